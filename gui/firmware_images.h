// The firmware the application carries: its version texts and its four
// images, and which of them suits a receiver.
#ifndef ZIRKO_GUI_FIRMWARE_IMAGES_H
#define ZIRKO_GUI_FIRMWARE_IMAGES_H

#include <QString>

namespace firmware {

// Version text of the embedded firmware for a product type (`zk_product_type`).
QString versionTextPath(int productType);
// Bootloaders older than 2.0 take the legacy images.
bool takesLegacyImage(float bootloaderVersion);
// Image for a product type and the version of the receiver's bootloader.
QString imagePath(int productType, float bootloaderVersion);
// First line of a version text as a number; 0 when it can't be read.
float readVersionText(const QString &path);
// True when the build carries images made for the virtual receiver instead
// of real receiver firmware.
bool placeholderImages();

}  // namespace firmware

#endif  // ZIRKO_GUI_FIRMWARE_IMAGES_H
