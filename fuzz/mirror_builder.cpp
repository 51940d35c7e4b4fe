// The template-list walker. The first input byte picks the site's CMS (bit 0: WordPress, else
// ExpressionEngine) and how the answer arrives when streamed (the other bits: chunk size less one); the
// rest is the "list_all" answer. Each answer is built twice, each in its own mirror below one scratch
// folder: through a spool, checked first, as a refresh builds, and from its bytes as they arrive, as the
// start builds. After each input:
// - nothing exists below the scratch folder outside the two mirrors (and the folders that hold them), and
//   nothing the walker made is a link or a special file;
// - every record is keyed inside its mirror by a path of proper names;
// - both builds made the same tree and records, and said the same of whether the answer was whole;
// - an answer whose parsed document has "folders" passes the spool's check, and one that passes it is
//   whole;
// - the bounds hold (small ones here, so that inputs reach them): no more templates and groups than they
//   allow, and no file larger than a template may be.
#include "../tests/unit/RecordsText.h"
#include "FuzzCheck.h"
#include "LenientJson.h"
#include "tree/MirrorBuilder.h"
#include "tree/TemplateListSpool.h"
#include "tree/WebsiteInUse.h"

#include <QDir>
#include <algorithm>

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace folvane;
using fuzz::check;

namespace {

const ListBounds bounds{
    .templates = 24, .groups = 6, .templateBytes = 2048, .templateNesting = 4, .groupHeldBytes = 8192};

// Deep enough that a name climbing out of a mirror with "../" parts still lands below the scratch folder.
const QString baseBelowScratch = QStringLiteral("/1/2/3/4/5/6/7/8/base");
QString scratch;

// The records of `site` as text, keys relative to its mirror, checking each lies inside it by a path of
// proper names (none empty, "." or "..": cleaning the path would change it).
std::string relativeRecords(WebsiteInUse& site, const QString& mirror) {
    site.withRecords([&](const RecordTree& records) {
        for (const auto& [path, entry] : records.all())
            check(path.startsWith(mirror + u'/') && QDir::cleanPath(path) == path,
                  "a record lies outside its mirror:", path.toStdString());
    });
    return recordsText(site, mirror);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const QByteArray tmp = qgetenv("TMPDIR").isEmpty() ? QByteArray("/tmp") : qgetenv("TMPDIR");
    QByteArray folder = tmp + "/folvane-fuzz-mirror-XXXXXX";
    check(::mkdtemp(folder.data()) != nullptr, "no scratch folder could be made");
    scratch = QString::fromLocal8Bit(folder);
    std::atexit([] { QDir(scratch).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const CMS cms = (data[0] & 1) ? CMS::wordPress : CMS::expressionEngine;
    const qsizetype chunk = 1 + (data[0] >> 1);
    const QByteArray body(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QString base = scratch + baseBelowScratch;

    WebsiteInUse site, streamedSite;
    site.cms = streamedSite.cms = cms;
    site.cachedFolderName = QStringLiteral("spooled");
    streamedSite.cachedFolderName = QStringLiteral("stream");

    MirrorBuilder spooled(base, site, bounds);
    TemplateListSpool spool(base + QStringLiteral("/.cache"));
    spool.append(body);
    check(spool.failure().isEmpty(), "the spool failed:", spool.failure().toStdString());
    const bool usable = spool.isUsable();
    const bool whole = spool.buildInto(spooled);
    check(!member(parseLenient(body, InvalidText::mark), "folders") || usable,
          "a list the whole-document reader takes was refused");
    check(!usable || whole, "a list that passed the check was not whole");

    MirrorBuilder streamed(base, streamedSite, bounds);
    for (qsizetype at = 0; at < body.size(); at += chunk)
        streamed.feed(QByteArrayView(body).sliced(at, std::min(chunk, body.size() - at)));
    const bool streamedWhole = streamed.finish();
    check(whole == streamedWhole, "the spooled and the streamed answer differ in being whole");

    // Only the mirrors and the folders above them may exist below the scratch folder.
    const auto within = [](const std::string& path, const std::string& folder) {
        return path == folder || path.rfind(folder + "/", 0) == 0;
    };
    const std::string spooledMirror = spooled.mirrorFolder().mid(scratch.size()).toStdString();
    const std::string streamMirror = streamed.mirrorFolder().mid(scratch.size()).toStdString();
    for (const auto& [path, content] : entriesBelow(scratch.toStdString())) {
        check(within(path, spooledMirror) || within(path, streamMirror) || within(spooledMirror, path),
              "something was made outside the mirrors:", path);
        check(content != "<other>", "the walker made a link or a special file:", path);
    }

    const std::string records = relativeRecords(site, spooled.mirrorFolder());
    const std::string streamedRecords = relativeRecords(streamedSite, streamed.mirrorFolder());
    check(entriesBelow(spooled.mirrorFolder().toStdString()) ==
              entriesBelow(streamed.mirrorFolder().toStdString()),
          "the spooled answer built another tree than the streamed one");
    check(records == streamedRecords, "the spooled answer made other records than the streamed one");
    const auto [groups, templates] = site.withRecords([](const RecordTree& tree) {
        return std::pair{tree.folderCount(), tree.fileCount()};
    });
    check(templates <= bounds.templates, "more templates than the bound allows");
    check(groups <= bounds.groups, "more groups than the bound allows");
    for (const auto& [path, content] : entriesBelow(spooled.mirrorFolder().toStdString()))
        check(qint64(content.size()) <= bounds.templateBytes, "a file larger than a template may be:", path);
    return 0;
}
