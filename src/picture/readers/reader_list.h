#pragma once

namespace quorvex {

class TFileFormatList;

// Registers the rows of every reader the build holds, in the order of the
// registration table. The readers are listed in reader_list.cpp; a new one
// joins there with one line.
void RegisterReaderFormats(TFileFormatList& list);

}  // namespace quorvex
