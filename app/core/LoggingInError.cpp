#include "LoggingInError.h"

#include <QUrl>

namespace folvane {

QString alertText(LoggingInError error, const QString& siteUrl, ConnectEntryPoint entryPoint) {
    switch (error) {
    case LoggingInError::authenticationInvalid:
        return QStringLiteral("Invalid authentication info, please check the fields entered are correct.");
    case LoggingInError::outOfDateAddOn:
        return entryPoint == ConnectEntryPoint::connectToSite
                   ? QStringLiteral(
                         "The add-on installed on this site is out of date, please update to the newest "
                         "version of the add-on and Folvane.")
                   : QStringLiteral(
                         "The add-on installed on the site being connected to is out of date for this "
                         "version of Folvane, please update both the add-on and Folvane.");
    case LoggingInError::saveTemplatesTurnedOn:
        return QStringLiteral(
            "Folvane can not be used while 'saving templates as files' is turned on. Please turn "
            "it off in ExpressionEngine.");
    case LoggingInError::timedOut:
        return QStringLiteral(
            "Folvane timed out while trying to connect. Please make sure the URL entered is "
            "valid.");
    case LoggingInError::insufficientPermissions:
        return QStringLiteral("You have insufficient permissions to access the files for this site.");
    case LoggingInError::certificateRejected:
        return QStringLiteral("The certificate of %1 is not valid or not trusted, so Folvane did not log in. "
                              "Check the site's certificate and its address.")
            .arg(QUrl(siteUrl.trimmed()).host());
    }
    return {};
}

} // namespace folvane
