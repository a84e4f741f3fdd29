// Office processes that a Corvane process started and that outlived it. Corvane starts its
// office with a private profile folder named "corvane-lo-*" in the temporary folder, holding
// an "owner" file with the id of the Corvane process; a process whose profile names an owner
// that is gone is a leftover. The user's own office never has such a profile.
#pragma once

#include <QList>
#include <QString>

namespace corvane::platform {

// The profile folders' common beginning: the temporary folder plus "corvane-lo-".
QString officeProfilePrefix();
// The file in a profile folder that names the owning Corvane process.
QString officeOwnerFileName();

// Ids of the current user's leftover office processes.
QList<qint64> officeLeftovers();

// Ends the leftovers with everything they started and removes their profiles, and removes the
// profiles left by owners that are gone. Returns how many processes were ended.
int endOfficeLeftovers();

} // namespace corvane::platform
