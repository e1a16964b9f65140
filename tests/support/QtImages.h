// Pictures written by Qt's own writers into bytes, for tests that feed
// the decoders what a file would hold.
#pragma once

#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>
#include <QtGui/QImageWriter>

#include <string>

namespace test {

inline std::string Encode(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return bytes.toStdString();
}

// A JPEG of several scans, each adding detail, as the web's often are.
inline std::string EncodeProgressiveJpeg(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "JPEG");
  writer.setProgressiveScanWrite(true);
  EXPECT_TRUE(writer.write(image));
  return bytes.toStdString();
}

}  // namespace test
