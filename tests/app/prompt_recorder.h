// tests/app: CPromptRecorder answers the program's prompts for a test (GUI
// thread) while it lives: message boxes are recorded and answered OK, file
// dialogs are recorded and answered with m_nextFile (none: cancelled), print
// dialogs are counted and cancelled.
#pragma once

#include <QPrinter>
#include <optional>
#include <string>
#include <vector>

#include "app/user_prompts.h"

class CPromptRecorder {
public:
    CPromptRecorder() {
        CUserPrompts::SetMessageHook([this](const SMessageRequest& request) {
            m_messages.push_back(request);
            return IDOK;
        });
        CUserPrompts::SetFileHook([this](const SFileRequest& request) {
            m_files.push_back(request);
            return m_nextFile;
        });
        CUserPrompts::SetPrintHook([this](QPrinter&) { return ++m_nPrints, false; });
    }
    ~CPromptRecorder() {
        CUserPrompts::SetMessageHook({});
        CUserPrompts::SetFileHook({});
        CUserPrompts::SetPrintHook({});
    }
    CPromptRecorder(const CPromptRecorder&) = delete;
    CPromptRecorder& operator=(const CPromptRecorder&) = delete;

    // The texts of the message boxes shown, in order.
    std::vector<std::string> Texts() const {
        std::vector<std::string> v;
        for (const SMessageRequest& m : m_messages) v.push_back(m.text.toStdString());
        return v;
    }

    std::vector<SMessageRequest> m_messages;
    std::vector<SFileRequest> m_files;
    int m_nPrints = 0;
    std::optional<QString> m_nextFile;
};
