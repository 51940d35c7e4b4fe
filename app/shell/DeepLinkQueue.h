#pragma once

#include "shell/DeepLink.h"

#include <QObject>
#include <QString>
#include <vector>

namespace folvane::shell {

// Deep links wait for the end of start-up and are released each a delay (2.0 s) after it arrived, so the
// window they open comes up on a finished application. A link that arrives during start-up is kept, not
// dropped. Links that are not "add_site" links are logged and ignored.
class DeepLinkQueue : public QObject {
    Q_OBJECT
public:
    explicit DeepLinkQueue(int delayMs = 2000, QObject* parent = nullptr);

    bool isSetupFinished() const { return setupFinished_; }

public slots:
    void enqueue(const QString& url);
    void setupFinished();

signals:
    void addSiteRequested(const folvane::shell::DeepLinkRequest& request);

private:
    int delayMs_;
    bool setupFinished_ = false;
    // Links whose delay has passed but that still wait for the end of start-up, in arrival order.
    std::vector<DeepLinkRequest> waiting_;
};

} // namespace folvane::shell
