// pelora: the program's entry point.
//
//   pelora --headless FILE [options]   the headless runner (app/headless_runner.h)
//   pelora [--plugin PATH] [--play] [FILE]
//                                      the GUI: the main view, and FILE opened in a
//                                      processing dialog (--play presses Play once shown)
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

    // Our options are taken out before Qt sees the command line: Qt has a
    // "-plugin" option of its own.
    std::string strFile;
    bool bPlay = false;
    std::vector<char*> qtArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
            CBitmapDialog::SetPluginPath(argv[++i]);
        else if (std::strcmp(argv[i], "--play") == 0)
            bPlay = true;
        else if (argv[i][0] == '-')
            qtArgs.push_back(argv[i]);
        else
            strFile = argv[i];
    }
    int nQtArgc = static_cast<int>(qtArgs.size());
    qtArgs.push_back(nullptr);
    QApplication app(nQtArgc, qtArgs.data());
    SetTextSink(&DrawOnMainView);

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
        if (bPlay) {
            QPointer<CBitmapDialog> pPlay(pDialog);
            QTimer::singleShot(500, pDialog, [pPlay] {
                if (pPlay) pPlay->OnPlayPause();
            });
        }
    }
    const int nResult = app.exec();
    // Dialogs still open stop their workers before the view goes.
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pDialog = qobject_cast<CBitmapDialog*>(pWidget)) delete pDialog;
    SetTextSink(nullptr);
    return nResult;
}
