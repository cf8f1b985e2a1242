// Trace hook: reports what the database layer does to an external monitor
// program through named shared objects. Without a registered monitor a trace
// operation only reads the monitor count.
#pragma once

#include <cstdint>
#include <string>

#include "client/Rtl.h"

namespace fib {

enum TraceCategory : uint8_t {
    tcPrepare = 0,
    tcExecute = 1,
    tcFetch = 2,
    tcConnect = 3,
    tcTransaction = 4,
    tcService = 5,
};

class TFIBSQLMonitorHook {
public:
    virtual ~TFIBSQLMonitorHook();

    virtual void TraceServiceAttach(const rtl::TComponent* service);
    virtual void TraceServiceDetach(const rtl::TComponent* service);
    virtual void TraceServiceQuery(const rtl::TComponent* service);
    virtual void TraceServiceStart(const rtl::TComponent* service);
};

// The process's hook, created on first use; null once process exit began.
TFIBSQLMonitorHook* MonitorHook();

} // namespace fib
