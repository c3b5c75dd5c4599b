#pragma once

// The picture masks of the browsing column, made from what the format
// registry reads, so that a reader added to the registry is listed without
// anything changed here.

#include <QString>
#include <QStringList>
#include <vector>

namespace quorvex {

// One family of the filter box after the nine designed entries: its
// description and the extensions it covers (lower case, no dot).
struct TFilterFamily {
  const char* description;
  std::vector<const char*> extensions;
};

// The families in the order the filter box lists them.
const std::vector<TFilterFamily>& FurtherFilterFamilies();

// "*.ext" for every extension the registry reads, ";" between them, in the
// registry's order.
QString AllImagesMask();

// The filter box's text, "description|mask|...": the nine designed entries
// (the first with AllImagesMask), then one entry per further family that
// the registry reads, naming only the extensions it reads, in the style
// "Description (*.a, *.b)|*.a; *.b".
QString ImageFilter();

}  // namespace quorvex
