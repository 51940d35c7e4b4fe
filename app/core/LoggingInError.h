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
};

// The two ways a user connects a site; they word the out-of-date case differently.
enum class ConnectEntryPoint { connectToSite, connectToSelectedSite };

// The informative text of the "Mount Failed" alert.
QString alertText(LoggingInError error, ConnectEntryPoint entryPoint = ConnectEntryPoint::connectToSite);

} // namespace folvane
