#pragma once

#include <QString>
#include <QUrl>

// The maker's name and web pages, fixed when the project is configured.
namespace folvane::shell {

QString makerName();
// The extra line of the About box: the year and the maker's name.
QString aboutCreditLine(int year);
QUrl faqPage();
QUrl supportPage();
QUrl changelogPage();
// The update feed (FOLVANE_APPCAST_URL).
QUrl appcastFeed();

} // namespace folvane::shell
