#pragma once

#include "SiteIndex.h"

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <vector>

class QTimer;

namespace folvane {

class AddonClient;

// Learns what the site holds, for requests whose answer never came: one template list serves every request
// waiting when it is fetched. At most one fetch is out, and fetches start at least `minIntervalMs` apart
// (a big site's list is large). Requests that begin waiting while a list is on its way wait for the next
// one, which shows the site after them. Main thread only.
class ListCheck : public QObject {
    Q_OBJECT
public:
    // `spoolFolder`: where the list is kept while it is read (beside the mirror folders).
    ListCheck(AddonClient& client, QString spoolFolder, QObject* parent = nullptr);

    // `read` gets the site's index, or null when the list could not be had.
    using Reader = std::function<void(const SiteIndex*)>;
    void whenListed(Reader read);
    bool isWaiting() const { return !waiting_.empty() || fetching_; }

    int minIntervalMs = 3000;

private:
    void schedule();
    void fetch();

    AddonClient& client_;
    QString spoolFolder_;
    std::vector<Reader> waiting_;
    bool fetching_ = false;
    QElapsedTimer lastFetch_;
    QTimer* timer_;
};

} // namespace folvane
