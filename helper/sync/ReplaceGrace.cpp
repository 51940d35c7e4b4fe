#include "ReplaceGrace.h"

#include <QTimer>

namespace folvane {

ReplaceGrace::ReplaceGrace(Over over, QObject* parent) : QObject(parent), over_(std::move(over)) {}

void ReplaceGrace::hold(const QString& path, const Away& away, int graceMs) {
    if (held_.count(path))
        letGo(path);
    auto* grace = new QTimer(this);
    grace->setSingleShot(true);
    connect(grace, &QTimer::timeout, this, [this, path] { letGo(path); });
    grace->start(graceMs);
    held_.emplace(path, Held{away, grace, ++sequence_});
}

std::optional<ReplaceGrace::Away> ReplaceGrace::take(const QString& path) {
    const auto it = held_.find(path);
    if (it == held_.end())
        return std::nullopt;
    const Held held = it->second;
    held_.erase(it);
    held.grace->deleteLater();
    return held.away;
}

void ReplaceGrace::dropKey(Key key) {
    std::erase_if(held_, [&](const auto& entry) {
        if (entry.second.away.key != key)
            return false;
        entry.second.grace->deleteLater();
        return true;
    });
}

void ReplaceGrace::letGo(const QString& path) {
    if (const std::optional<Away> away = take(path))
        over_(path, *away);
}

void ReplaceGrace::letGoIf(const std::function<bool(const QString& path, const Away& away)>& which) {
    std::map<std::uint64_t, QString> paths;
    for (const auto& [path, held] : held_)
        if (which(path, held.away))
            paths.emplace(held.sequence, path);
    for (const auto& [sequence, path] : paths)
        letGo(path);
}

QStringList ReplaceGrace::paths() const {
    QStringList paths;
    for (const auto& [path, held] : held_)
        paths << path;
    return paths;
}

void ReplaceGrace::clear() {
    for (const auto& [path, held] : held_)
        held.grace->deleteLater();
    held_.clear();
}

} // namespace folvane
