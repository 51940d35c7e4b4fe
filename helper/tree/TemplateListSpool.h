#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <sys/types.h>

namespace folvane {

class MirrorBuilder;

// A template list kept on disk while it arrives, for a build that may start only once the whole list is
// known to be usable (a refresh must not touch the mirror for a list cut short). A big site's list runs to
// hundreds of megabytes, so it is never held in memory. The file has no name: only this process can reach
// it, and it is gone when the spool goes, whatever the outcome (or when the process dies).
class TemplateListSpool {
public:
    // Opens the spool in `folder` (on that folder's filesystem, beside the mirror folders).
    explicit TemplateListSpool(const QString& folder);
    ~TemplateListSpool();
    TemplateListSpool(const TemplateListSpool&) = delete;
    TemplateListSpool& operator=(const TemplateListSpool&) = delete;

    // Keeps the list's next bytes. After a failure nothing more is kept.
    void append(QByteArrayView bytes);
    // Why the list could not be kept or read back (no spool could be made, the disk is full, ...); empty
    // while all is well.
    const QString& failure() const { return failure_; }

    // Whether what was kept is one whole JSON object with a "folders" member, read as leniently as the
    // builder reads it (bytes that are not UTF-8 inside a name do not spoil the list). Keeps nothing of it.
    bool isUsable();
    // Hands everything kept to `builder`, in pieces, and finishes the build: whether the builder read one
    // whole JSON value and the spool could be read to its end.
    bool buildInto(MirrorBuilder& builder);

private:
    // Reads the piece after `at` into `piece` and moves `at` past it; false at the end, and when a read
    // failed (a failure then says so).
    bool nextPiece(off_t& at, QByteArray& piece);
    void fail(const QString& what);

    QString folder_;
    int fd_ = -1;
    QString failure_;
};

} // namespace folvane
