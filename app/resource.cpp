#include "app/resource.h"

const char* CommandPrompt(UINT nId) {
    switch (nId) {
        case ID_FILE_NEW:
            return "新規にファイルを作成\n新規ファイル";
        case ID_FILE_OPEN:
            return "既存のファイルを開く\n開く";
        case ID_FILE_SAVE:
            return "作業中のファイルを上書きして保存\n保存";
        case ID_FILE_PRINT:
            return "作業中のファイルを印刷\n印刷";
        case ID_EDIT_COPY:
            return "選択範囲をコピーしてクリップボードに保存\n保存";
        case ID_EDIT_CUT:
            return "選択範囲を切り取ってクリップボードに保存\n切り取り";
        case ID_EDIT_PASTE:
            return "クリップボードの内容を貼り付け\n貼り付け";
        case ID_APP_ABOUT:
            return "プログラム情報、バージョン、著作権を表示します。\nバージョン情報";
        case ID_APP_EXIT:
            // The separator is a backslash, not a newline: all of it is the
            // status-bar prompt and there is no tooltip.
            return "アプリケーションを終了し、ファイルの保存を指示\\終了";
        case ID_VIEW_TOOLBAR:
            return "ツール バーの 表示/非表示\nツール バーの表示切り替え";
        case ID_VIEW_STATUS_BAR:
            return "ステータス バーの 表示/非表示\nステータス バーの表示切り替え";
        case ID_FILE_OPEN_VIDEO:
            return "映像ファイルを開く";
        default:
            return nullptr;  // ID_CAMERA_USB among them
    }
}
