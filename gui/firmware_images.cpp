#include "firmware_images.h"

#include <QFile>

#include "zirko.h"

#ifndef ZIRKO_PLACEHOLDER_FIRMWARE
#define ZIRKO_PLACEHOLDER_FIRMWARE 1
#endif

namespace {

// Bootloaders from this version on take the newer image.
constexpr float kNewBootloader = 2.0f;
constexpr int kVersionLineBytes = 100;

}  // namespace

namespace firmware {

QString versionTextPath(int productType) {
  return productType == ZK_PRODUCT_CORVANE ? ":/firmware/cv_version.txt" : ":/firmware/version.txt";
}

bool takesLegacyImage(float bootloaderVersion) {
  return bootloaderVersion < kNewBootloader;
}

QString imagePath(int productType, float bootloaderVersion) {
  const bool corvane = productType == ZK_PRODUCT_CORVANE;
  if (takesLegacyImage(bootloaderVersion))
    return corvane ? ":/firmware/zirko.cv.bl.1.4.bin" : ":/firmware/zirko.bl.1.4.bin";
  return corvane ? ":/firmware/zirko.cv.bl.2.0.bin" : ":/firmware/zirko.bl.2.0.bin";
}

float readVersionText(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return 0;
  char line[kVersionLineBytes];
  const qint64 read = file.readLine(line, sizeof line);
  if (read < 1) return 0;
  file.close();
  // toFloat gives 0 for a text that isn't a number.
  return QString::fromLatin1(line, int(read)).trimmed().toFloat();
}

bool placeholderImages() {
  return ZIRKO_PLACEHOLDER_FIRMWARE != 0;
}

}  // namespace firmware
