#pragma once

// Helpers the picture reader tests share: building inputs, loading a reader
// from bytes or a file, and looking at what it produced.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/graphic.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The first `length` storage bytes of image row y (0 = top), without padding.
inline Bytes Row(const TBitmap& bitmap, int32_t y, size_t length) {
  const uint8_t* p = bitmap.RowAddress(y);
  return Bytes(p, p + length);
}

// 256 grays, entry i = (i, i, i).
inline TPalette GrayRampPalette() {
  TPalette palette;
  for (int i = 0; i < 256; ++i) palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
  return palette;
}

template <class Graphic>
std::unique_ptr<Graphic> LoadBytes(const Bytes& file) {
  auto graphic = std::make_unique<Graphic>();
  TMemoryStream stream(file);
  graphic->ReadFromStream(stream);
  return graphic;
}

template <class Graphic>
std::unique_ptr<Graphic> LoadFile(const std::string& path) {
  auto graphic = std::make_unique<Graphic>();
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  graphic->ReadFromStream(stream);
  return graphic;
}

// The message of what `load` raises, or "" when it loads.
inline std::string FailureOf(const std::function<void()>& load) {
  try {
    load();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// The storage a bitmap like `like` (layout, palette, size) holds before
// anything is written to it.
inline Bytes InitialStorage(const TBitmap& like) {
  TBitmap fresh;
  fresh.SetLayout(like.Layout());
  fresh.ApplyPalette(like.QueryPalette());
  fresh.SetImageWidth(like.ImageWidth());
  fresh.SetImageHeight(like.ImageHeight());
  return StorageBytes(fresh);
}

// The loaded file must show what the reference decoder makes of `path`,
// after `adjust` has mended the reference where it is known to be wrong.
inline void ExpectReferencePixels(const std::string& path, const TBitmap& bitmap, int tolerance = 0,
                                  const std::function<void(RgbPicture&)>& adjust = {}) {
  auto reference = ReferencePixels(path);
  ASSERT_TRUE(reference.has_value()) << "no reference decode of " << path;
  if (adjust) adjust(*reference);
  EXPECT_EQ(ComparePictures(*reference, BitmapPixels(bitmap), tolerance), "");
}

// A file the content test takes: the loader keeps the reader's bitmap as it
// is, storage and layout.
inline void ExpectLoaderKeepsTheBitmap(const std::string& path, const TBitmap& bitmap) {
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  LoadPicture(path, picture, working);
  ASSERT_NE(working, nullptr);
  EXPECT_EQ(working->Layout(), bitmap.Layout());
  EXPECT_EQ(StorageBytes(*working), StorageBytes(bitmap));
}

// A file that must fail to load with `message`.
struct FailureCase {
  const char* name;
  Bytes file;
  std::string message;
};

// Every case (with `name`, `file` and `message`) must fail to load with its
// message; an empty message takes any. `check` looks further at the
// exception where the class matters.
template <class Cases, class Load, class Check>
void ExpectEveryCaseFails(const Cases& cases, Load load, Check check) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      load(c.file);
      ADD_FAILURE() << "loaded";
    } catch (const Exception& e) {
      if (!std::string(c.message).empty()) {
        EXPECT_EQ(e.Message(), c.message);
      }
      check(c, e);
    }
  }
}

template <class Cases, class Load>
void ExpectEveryCaseFails(const Cases& cases, Load load) {
  ExpectEveryCaseFails(cases, load, [](const auto&, const Exception&) {});
}

// Every case's `file` must fail to load with an exception of class E and
// the one message; another class escapes and fails the test.
template <class E, class Cases, class Load>
void ExpectEveryCaseFailsWith(const Cases& cases, Load load, const std::string& message) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      load(c.file);
      ADD_FAILURE() << "loaded";
    } catch (const E& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

}  // namespace quorvex::test
