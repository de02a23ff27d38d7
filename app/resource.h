// app: command ids and the program's texts (menu captions, prompts, tooltips,
// status-bar texts, messages), kept as named constants so that the actions,
// the command routing and the tests all speak of the same numbers and words.
//
// Prompts follow the usual "status-bar text\ntooltip" form; a prompt without
// a newline has no tooltip.
// May include: platform/win only.
#pragma once

#include "platform/win/win_types.h"

// Command ids (carried by the QActions as their data).
constexpr UINT ID_FILE_NEW = 57600;
constexpr UINT ID_FILE_OPEN = 57601;
constexpr UINT ID_FILE_SAVE = 57603;
constexpr UINT ID_FILE_PRINT = 57607;
constexpr UINT ID_FILE_PRINT_DIRECT = 57608;
constexpr UINT ID_FILE_PRINT_PREVIEW = 57609;
constexpr UINT ID_EDIT_COPY = 57634;
constexpr UINT ID_EDIT_CUT = 57635;
constexpr UINT ID_EDIT_PASTE = 57637;
constexpr UINT ID_EDIT_UNDO = 57643;
constexpr UINT ID_APP_ABOUT = 57664;
constexpr UINT ID_APP_EXIT = 57665;
constexpr UINT ID_NEXT_PANE = 57680;
constexpr UINT ID_PREV_PANE = 57681;
constexpr UINT ID_VIEW_TOOLBAR = 59392;
constexpr UINT ID_VIEW_STATUS_BAR = 59393;
constexpr UINT ID_FILE_OPEN_VIDEO = 32772;
constexpr UINT ID_CAMERA_USB = 32775;

// Message box results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Application title: window title of the document template and the caption
// of every message box.
inline constexpr const char* kAppTitle = "Pelora";
// Main window caption.
inline constexpr const char* kMainCaption = "Kesto";
// Settings store key (the organisation part of QSettings).
inline constexpr const char* kRegistryKey =
    "アプリケーション ウィザードで生成されたローカル アプリケーション";
// Entries of the recent-file list.
constexpr int kRecentFileCount = 4;
// Initial main window size.
constexpr int kMainWidth = 420;
constexpr int kMainHeight = 340;

// Menu captions.
inline constexpr const char* kMenuFile = "ファイル(&F)";
inline constexpr const char* kMenuOpenVideo = "映像ファイルを開く\tCtrl+O(&O)";
inline constexpr const char* kMenuExit = "アプリケーションの終了(&X)";
inline constexpr const char* kMenuCamera = "カメラ入力";
inline constexpr const char* kMenuUsbCamera = "USBカメラ";
inline constexpr const char* kMenuView = "表示(&V)";
inline constexpr const char* kMenuToolbar = "ツール バー(&T)";
inline constexpr const char* kMenuStatusBar = "ステータス バー(&S)";
inline constexpr const char* kMenuHelp = "ヘルプ(&H)";
inline constexpr const char* kMenuAbout = "バージョン情報 Kesto(&A)...";

// Status bar.
inline constexpr const char* kIdleText = "レディ";
inline constexpr const char* kIndicatorCaps = "CAP";
inline constexpr const char* kIndicatorNum = "NUM";
inline constexpr const char* kIndicatorScrl = "SCRL";

// About box.
inline constexpr const char* kAboutCaption = "バージョン情報 Pelora";
inline constexpr const char* kAboutVersion = "Kesto Version 0.0.2";
inline constexpr const char* kAboutCopyright = "Copyright (C) 2026";

// Messages of the source commands.
inline constexpr const char* kMpegMessage = "現在MPEG2形式のファイルはサポートされていません";
inline constexpr const char* kImageKindMessage =
    "このファイルは開けません: %1\n"
    "開けるのは拡張子が BMP・bmp (ビットマップ) と CSV・csv (CSVグリッド) のファイルです。";

// Device names and the extension marker of OpenSource.
inline constexpr const char* kDeviceUsbCamera = "VIDEO_IN";
inline constexpr const char* kDeviceVfw = "VideoForWindows";
inline constexpr const char* kDeviceNi100U = "NI-100U";
inline constexpr const char* kNoExtension = "none";

// File dialog filters: the two entries of each command, with both letter
// cases of every extension (file names are case-sensitive here).
inline constexpr const char* kVideoFilter =
    "AVIファイル(*.AVI) (*.AVI *.avi *.ASF *.asf);; MP4ファイル(*.MP4) (*.MP4 *.mp4)";
inline constexpr const char* kImageFilter =
    "ﾋﾞｯﾄﾏｯﾌﾟ(*.BMP) (*.BMP *.bmp);; CSV(*.CSV) (*.CSV *.csv)";

// The prompt of a command ("status text\ntooltip"), or null when the
// command has none.
const char* CommandPrompt(UINT nId);
