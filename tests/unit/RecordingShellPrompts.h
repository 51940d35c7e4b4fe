#pragma once

// The shell's prompts, recorded: alerts are answered from a script, and once it has run out by their last
// button (what closing one does).
#include "shell/ShellPrompts.h"

#include <QUrl>
#include <deque>
#include <vector>

namespace folvane::testsupport {

class RecordingShellPrompts : public shell::ShellPrompts {
public:
    int runAlert(const shell::Alert& alert) override {
        alerts.push_back(alert);
        if (answers.empty())
            return int(alert.buttons.size()) - 1;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showProgress(const QString&) override {}
    void setProgress(int) override {}
    void hideProgress() override {}
    void openUrl(const QUrl& url) override { opened.push_back(url); }

    std::deque<int> answers;
    std::vector<shell::Alert> alerts;
    std::vector<QUrl> opened;
};

} // namespace folvane::testsupport
