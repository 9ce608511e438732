#pragma once

#include <QStringList>
#include <sys/types.h>

// File modes do not bind root: while alive, a root test process runs as the user "nobody",
// which owns the given paths so that the modes set on them are what it meets. Run as any other
// user, the test already meets file modes and nothing changes.
class AsUser {
public:
    explicit AsUser(const QStringList& ownedPaths = {});
    ~AsUser();
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;

    // False when root could not become an unprivileged user: the test cannot check modes.
    bool ok() const { return usable; }

private:
    bool switched = false;
    bool usable = true;
    uid_t uid = 65534;
    gid_t gid = 65534;
};
