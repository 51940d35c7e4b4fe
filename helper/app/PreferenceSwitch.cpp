#include "PreferenceSwitch.h"

#include <QFile>
#include <memory>
#include <plist/plist.h>

namespace folvane {

bool preferenceSwitch(const QString& supportFolder, const QString& key, bool byDefault) {
    // The file is a few hundred bytes; anything much larger is not the preferences.
    constexpr qint64 sizeLimit = 1 << 20;
    QFile file(supportFolder + QStringLiteral("/preferences.plist"));
    if (!file.open(QIODevice::ReadOnly) || file.size() > sizeLimit)
        return byDefault;
    const QByteArray bytes = file.readAll();
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &parsed);
    const std::unique_ptr<void, decltype(&plist_free)> root(parsed, &plist_free);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return byDefault;
    const plist_t node = plist_dict_get_item(root.get(), key.toUtf8().constData());
    if (!node || plist_get_node_type(node) != PLIST_UINT)
        return byDefault;
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value == 1;
}

} // namespace folvane
