#pragma once

#include "tree/RecordTree.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

namespace folvane {

class GrowthWatch;

// A template file (or a file on its way to becoming one) as this computer knows it.
struct LocalFile {
    quint64 key = 0;
    QString path;     // where the file is on the volume now (full local path)
    QString sitePath; // the path whose name and group the site knows it by
    bool creating = false;
    bool onSite = false;
    bool dirty = false; // written since its content was last sent
    // The site refused its last save or create (or never answered a create): unconfirmed until a save of it
    // is confirmed; a new save tries again.
    bool refused = false;
    QString refusal; // what the add-on said when it refused, if anything
    QString groupID, templateID;
    std::optional<ContentDigest> confirmed; // of the content the site accepted last
    // Of contents sent since then whose fate is unknown (a save that got no answer, a create the site
    // refused after making the template): the site may hold any of them.
    std::vector<ContentDigest> maybeOnSite;
    std::shared_ptr<GrowthWatch> watch; // while a new file is watched until it stops growing
    QTimer* quiet = nullptr;
};

// The local identities of the template files: each keeps its key across renames and moves, and is found by
// the path its file has on the volume now (a path given up is no longer linked to it).
class FileIdentities {
public:
    using Key = quint64;
    using Files = std::map<Key, std::unique_ptr<LocalFile>>;

    const Files& all() const { return files_; }
    LocalFile* find(Key key) const;
    // The file linked to `path`, if any.
    LocalFile* at(const QString& path) const;
    bool linked(const QString& path) const { return keyByPath_.count(path) > 0; }
    std::vector<Key> keysWhere(const std::function<bool(const LocalFile&)>& which) const;
    // A new identity, linked to `path`.
    LocalFile& add(const QString& path);
    // The file is at `path` now and is found there (its former path is unlinked by whoever knows it is free).
    void place(LocalFile& file, const QString& path);
    void unlink(const QString& path) { keyByPath_.erase(path); }
    void remove(Key key);
    // A folder moved: every path below `from` is below `to` now. Returns the files that moved.
    std::vector<LocalFile*> moveBelow(const QString& from, const QString& to);
    // The site has the group at `from` at `to` now.
    void siteMovedBelow(const QString& from, const QString& to);
    // A new identity, linked to `path`, for the template the records keep at `recorded`; null when they
    // keep none there, or keep the one of a file that has moved on (its move not yet confirmed).
    LocalFile* adopt(const QString& path, const QString& recorded, const RecordTree& records);
    // Each template on the site takes the group identifier the records have for its folder now.
    void followGroupIDs(const RecordTree& records);

private:
    Files files_;
    std::map<QString, Key> keyByPath_;
    Key nextKey_ = 1;
};

} // namespace folvane
