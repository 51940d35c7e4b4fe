#include "PropertyListFile.h"

#include "Paths.h"

#include "ConsoleLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>
#include <limits>

namespace folvane {

namespace {
// libplist ends the process when a text or key holding a NUL byte is read (its getters assert that the
// length is the C string's), so such a property list, which no program here writes, reads as none. The
// XML form writes texts and keys as they are (only markup escaped) and every other value as text or
// Base64: a NUL in it is a NUL in a text or key.
bool holdsTextWithNul(plist_t root) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = !xml || std::memchr(xml, 0, length) != nullptr;
    plist_to_xml_free(xml);
    return found;
}
} // namespace

PropertyListFile::PropertyListFile(QString folder, const QString& fileName)
    : folder_(std::move(folder)), path_(folder_ + u'/' + fileName) {}

bool PropertyListFile::exists() const {
    return QFileInfo::exists(path_);
}

bool PropertyListFile::createFolder() {
    if (paths::makePrivateFolder(folder_))
        return true;
    lastError_ = QStringLiteral("cannot create the folder ") + folder_;
    logLine(lastError_);
    return false;
}

bool PropertyListFile::prepareFirstSave(const QString& firstStartLine) {
    if (exists())
        return true;
    logLine(firstStartLine);
    return createFolder();
}

Plist PropertyListFile::load() {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        lastError_ = QStringLiteral("cannot read ") + path_ + QStringLiteral(": ") + file.errorString();
        if (file.exists())
            keepAside();
        return nullptr;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty()) {
        lastError_ = path_ + QStringLiteral(" is empty");
        return nullptr;
    }
    Plist root = parse(bytes);
    if (!root) {
        lastError_ = path_ + QStringLiteral(" is not a property list");
        keepAside();
    }
    return root;
}

Plist PropertyListFile::parse(const QByteArray& bytes) {
    plist_t root = nullptr;
    if (bytes.size() <= std::numeric_limits<uint32_t>::max())
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    Plist parsed(root);
    if (parsed && holdsTextWithNul(parsed.get()))
        return nullptr;
    return parsed;
}

void PropertyListFile::keepAside() {
    const QString aside =
        path_ + QStringLiteral(".unreadable-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss-zzz'Z'"));
    if (QFile::rename(path_, aside)) {
        keptAsidePath_ = aside;
        logLine(path_ + QStringLiteral(" could not be read; it was kept as ") + aside);
    } else {
        unreadableInPlace_ = true;
        logLine(path_ + QStringLiteral(" could not be read nor moved aside; it will not be overwritten"));
    }
}

bool PropertyListFile::save(plist_t root) {
    if (unreadableInPlace_) {
        lastError_ = path_ + QStringLiteral(" could not be read nor moved aside; move it away to save again");
        return false;
    }
    if (!createFolder())
        return false;
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    if (!bytes) {
        lastError_ = QStringLiteral("cannot encode ") + path_;
        return false;
    }
    QSaveFile file(path_);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(bytes, length) == static_cast<qint64>(length) &&
                         file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) && file.commit();
    plist_to_bin_free(bytes);
    if (!written) {
        lastError_ = QStringLiteral("cannot write ") + path_ + QStringLiteral(": ") + file.errorString();
        logLine(lastError_);
    }
    return written;
}

} // namespace folvane
