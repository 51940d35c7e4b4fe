#include "shell/MakerLinks.h"

namespace folvane::shell {

namespace {

QUrl page(const char* path) {
    return QUrl(QStringLiteral(FOLVANE_MAKER_HOST) + QLatin1String(path));
}

} // namespace

QString makerName() {
    return QStringLiteral(FOLVANE_MAKER_NAME);
}

QString aboutCreditLine(int year) {
    return QStringLiteral("© %1 %2").arg(year).arg(makerName());
}

QUrl faqPage() {
    return page("/faq");
}

QUrl supportPage() {
    return page("/support");
}

QUrl changelogPage() {
    return page("/docs/changelog/3");
}

QUrl appcastFeed() {
    return QUrl(QStringLiteral(FOLVANE_APPCAST_URL));
}

} // namespace folvane::shell
