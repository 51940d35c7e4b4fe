#include "TemplateListSpool.h"

#include "ConsoleLog.h"
#include "LenientJson.h"
#include "MirrorBuilder.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace folvane {

namespace {

// How much of the spool is read at a time: the only part of the list in memory while it is checked.
constexpr qsizetype pieceSize = qsizetype(1) << 20;

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A file only this process can reach: without a name where the filesystem allows it, else one removed at
// once (it lives on while open).
int openNameless(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    const int fd = ::open(native.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    QByteArray name = native + "/.template-list-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.constData());
    return named;
}

// Whether a JSON text is one object with a "folders" member; keeps nothing of it.
class FoldersCheck final : public ListEvents {
public:
    bool hasFolders = false;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return ++depth_, true; }
    bool start_array(std::size_t) override { return ++depth_, true; }
    bool end_object() override { return --depth_, true; }
    bool end_array() override { return --depth_, true; }
    // Members one level down can only be the top-level object's.
    bool key(string_t& name) override {
        hasFolders = hasFolders || (depth_ == 1 && name == "folders");
        return true;
    }

private:
    long depth_ = 0;
};

} // namespace

TemplateListSpool::TemplateListSpool(const QString& folder) : folder_(folder) {
    fd_ = openNameless(folder);
    if (fd_ < 0)
        fail(QStringLiteral("no file can be made in ") + folder);
}

TemplateListSpool::~TemplateListSpool() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TemplateListSpool::fail(const QString& what) {
    if (!failure_.isEmpty())
        return;
    failure_ = what + QStringLiteral(": ") + systemError();
    logLine(QStringLiteral("The template list cannot be kept on disk: ") + failure_);
}

void TemplateListSpool::append(QByteArrayView bytes) {
    while (failure_.isEmpty() && !bytes.isEmpty()) {
        const ssize_t n = ::write(fd_, bytes.data(), static_cast<size_t>(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(QStringLiteral("writing into ") + folder_ + QStringLiteral(" failed"));
            return;
        }
        bytes = bytes.sliced(n);
    }
}

bool TemplateListSpool::nextPiece(off_t& at, QByteArray& piece) {
    if (!failure_.isEmpty())
        return false;
    piece.resize(pieceSize);
    ssize_t n;
    do
        n = ::pread(fd_, piece.data(), static_cast<size_t>(piece.size()), at);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        fail(QStringLiteral("reading it back from ") + folder_ + QStringLiteral(" failed"));
    piece.resize(std::max<ssize_t>(n, 0));
    at += piece.size();
    return !piece.isEmpty();
}

bool TemplateListSpool::isUsable() {
    // The parser pulls the pieces, as the builder reads them (bad UTF-8 inside strings marked): one is read
    // only when the one before is used up.
    off_t at = 0;
    Utf8Repair repair(InvalidText::mark);
    QByteArray piece, current;
    bool finished = false;
    FoldersCheck check;
    const bool whole = parseChunks(
        [&](const char*& begin, const char*& end) {
            current.clear();
            while (current.isEmpty() && nextPiece(at, piece))
                current = repair.push(piece);
            if (current.isEmpty() && !std::exchange(finished, true))
                current = repair.finish();
            begin = current.constData();
            end = begin + current.size();
            return !current.isEmpty();
        },
        check);
    return whole && check.hasFolders && failure_.isEmpty();
}

bool TemplateListSpool::buildInto(MirrorBuilder& builder) {
    off_t at = 0;
    QByteArray piece;
    while (nextPiece(at, piece))
        builder.feed(piece);
    const bool whole = builder.finish();
    return whole && failure_.isEmpty();
}

} // namespace folvane
