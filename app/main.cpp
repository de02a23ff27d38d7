// pelora: the program's entry point.
//
//   pelora --headless FILE [options]   the headless runner (app/headless_runner.h)
//   pelora [--plugin PATH] [FILE]      the GUI: the main view, and FILE opened in a
//                                      processing dialog
#include <QApplication>
#include <cstring>
#include <string>
#include <string_view>

#include "app/headless_runner.h"
#include "app/pelora_view.h"
#include "app/view_text.h"
#include "processing/bitmap_dialog.h"
#include "processing/processing_types.h"
#include "processing/text_sink.h"

namespace {

// The processing dialogs' status lines go onto the main view.
void DrawOnMainView(int y, std::string_view text, COLORREF colour) {
    DrawTextAt(g_mainView.load(), y, colour, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--headless") == 0) return RunHeadless(argc, argv);

    QApplication app(argc, argv);
    SetTextSink(&DrawOnMainView);
    std::string strFile;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
            CBitmapDialog::SetPluginPath(argv[++i]);
        else
            strFile = argv[i];
    }

    CPeloraView view;
    view.setWindowTitle(QStringLiteral("Pelora"));
    view.resize(640, 480);
    view.move(0, 0);
    view.show();
    if (!strFile.empty()) {
        auto* pDialog = new CBitmapDialog(&view);
        pDialog->m_strSourcePath = strFile;
        pDialog->m_nSourceKind = SOURCE_FILE;
        pDialog->m_nSeekMode = SeekModeForPath(strFile.c_str());
        pDialog->show();
    }
    const int nResult = app.exec();
    // Dialogs still open stop their workers before the view goes.
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pDialog = qobject_cast<CBitmapDialog*>(pWidget)) delete pDialog;
    SetTextSink(nullptr);
    return nResult;
}
