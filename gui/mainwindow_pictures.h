// The main window's button and connection-indicator pictures, shared by its
// set-up and the states it shows.
#ifndef ZIRKO_GUI_MAINWINDOW_PICTURES_H
#define ZIRKO_GUI_MAINWINDOW_PICTURES_H

namespace window_pictures {

inline constexpr char kGoHover[] = ":/images/Buttons/goButtonGreen.png";
inline constexpr char kGoNormal[] = ":/images/Buttons/goButtonGray.png";
inline constexpr char kStopHover[] = ":/images/Buttons/stopButtonGreen.png";
inline constexpr char kStopNormal[] = ":/images/Buttons/stopButtonGray.png";
inline constexpr char kEraseHover[] = ":/images/Buttons/eraseButtonGreen.png";
inline constexpr char kEraseNormal[] = ":/images/Buttons/eraseButtonGray.png";
inline constexpr char kConnectedPicture[] = ":/images/bottom_connected.png";
inline constexpr char kDisconnectedPicture[] = ":/images/bottom_disconnected.png";
inline constexpr char kBootloaderPicture[] = ":/images/bottom_bootloader.png";
inline constexpr char kNewerPicture[] = ":/images/bottom_newer.png";
inline constexpr char kNotAnsweringPicture[] = ":/images/bottom_not_answering.png";
inline constexpr char kExclamation[] = ":/images/exclamation.png";

}  // namespace window_pictures

#endif  // ZIRKO_GUI_MAINWINDOW_PICTURES_H
