#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class QTimer;

namespace folvane {

// The names template files gave up a moment ago (renamed away or removed). vim, JetBrains IDEs and git
// replace a file by giving its name up and taking it again at once; a template whose name is taken again
// within the grace keeps its identity, and only when the grace is over does its rename or delete go out.
class ReplaceGrace : public QObject {
    Q_OBJECT
public:
    using Key = std::uint64_t;
    struct Away {
        Key key;
        QString renamedTo; // empty: the file was removed
    };
    // Called when the grace of a name is over (or it is let go early); the name is no longer held then.
    using Over = std::function<void(const QString& path, const Away& away)>;

    explicit ReplaceGrace(Over over, QObject* parent = nullptr);

    // `path` was given up for `graceMs`; a name given up twice within the grace lets the first go its way
    // now.
    void hold(const QString& path, const Away& away, int graceMs);
    // The name is taken again: it is no longer held. Nothing when it was not given up a moment ago.
    std::optional<Away> take(const QString& path);
    // The names `key` gave up are no change of their own any more; their grace ends without a word.
    void dropKey(Key key);
    // Ends the grace of `path` now.
    void letGo(const QString& path);
    // Ends the grace of every name `which` picks, in the order the names were given up (a template renamed
    // and then deleted is moved before its delete).
    void letGoIf(const std::function<bool(const QString& path, const Away& away)>& which);
    // Forgets every name without a word.
    void clear();

    bool empty() const { return held_.empty(); }
    int size() const { return static_cast<int>(held_.size()); }
    QStringList paths() const;

private:
    struct Held {
        Away away;
        QTimer* grace;
        std::uint64_t sequence;
    };
    Over over_;
    std::map<QString, Held> held_;
    std::uint64_t sequence_ = 0;
};

} // namespace folvane
