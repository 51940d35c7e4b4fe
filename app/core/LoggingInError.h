#pragma once

#include <QString>

namespace folvane {

// Why a connection check refused a site.
enum class LoggingInError {
    authenticationInvalid,
    outOfDateAddOn,
    saveTemplatesTurnedOn,
    timedOut,
    insufficientPermissions,
    certificateRejected,
};

// The two ways a user connects a site; they word the out-of-date case differently.
enum class ConnectEntryPoint { connectToSite, connectToSelectedSite };

// The informative text of the "Mount Failed" alert for the site at `siteUrl` (a certificate's refusal
// names the site's host).
QString alertText(LoggingInError error, const QString& siteUrl,
                  ConnectEntryPoint entryPoint = ConnectEntryPoint::connectToSite);

} // namespace folvane
