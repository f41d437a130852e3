#pragma once

#include <QString>

// One redirect on the way to a page: the status of the answer, and the address
// it sent the request on to (its Location, resolved against the address asked).
struct RedirectHop {
    int status = 0;
    QString address;
};
