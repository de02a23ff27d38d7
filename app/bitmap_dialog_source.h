// app: the processing dialog (CBitmapDialog) as the source commands of
// CPeloraDoc see it (ISourceDialog), and the program's dialog factory.
//
// The adapter is a child object of its dialog, so it lives exactly as long
// as the dialog's window. Ending a dialog goes through the dialog's own
// Close: the run flag is cleared, the worker is waited for (events keep
// being dispatched), and only then are its buffers and window released.
//
// Threads: GUI thread only.
// May include: Qt Widgets, processing/bitmap_dialog.h, app/*.
#pragma once

#include <QObject>

#include "app/source_dialog.h"

class CBitmapDialog;
class QWidget;
class VideoInput;

class CBitmapDialogSource : public QObject, public ISourceDialog {
    Q_OBJECT

public:
    // Adopts pDialog: becomes its child.
    explicit CBitmapDialogSource(CBitmapDialog* pDialog);

    CBitmapDialog* Dialog() const { return m_pDialog; }

    QWidget* Window() override;
    void SetSourcePath(const std::string& path) override;
    void SetSourceKind(int nKind, int nSeekMode) override;
    bool SetStillSource(CStillFrame frame) override;
    void Show() override;
    void EndAndDestroy() override;

private:
    CBitmapDialog* m_pDialog;  // our parent
};

// Makes the processing dialogs of the program: each placed beside pOwner;
// camera dialogs read pVideoInput (which outlives them).
SourceDialogFactory BitmapDialogFactory(QWidget* pOwner, VideoInput* pVideoInput);

// Routes the processing dialogs' messages through CUserPrompts (so that
// they are titled "Pelora" and tests can answer them).
void RouteDialogMessages();
