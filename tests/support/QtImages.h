// Pictures written by Qt's own writers into bytes, for tests that feed
// the decoders what a file would hold.
#pragma once

#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <string>

namespace test {

inline std::string Encode(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return bytes.toStdString();
}

}  // namespace test
