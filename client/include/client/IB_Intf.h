// Run-time binding of the Firebird client library: one shared, reference
// counted binding per library file name, handed out by a process-wide
// registry. Entry operations forward their arguments unchanged, with the
// widths of the published API (ibase.h).
#pragma once

#include <ibase.h>

#include <cstdint>
#include <memory>
#include <string>

namespace fib {

// The platform's client library file name.
extern const std::string DefaultLibraryName;

class IIBClientLibrary {
public:
    virtual ~IIBClientLibrary() = default;

    virtual std::string LibraryFileName() const = 0;
    virtual int32_t ClientVersionMajor() const = 0;
    virtual int32_t ClientVersionMinor() const = 0;
    virtual bool InClientCall() const = 0;

    // --- entry operations used by the service components and the error module
    virtual ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                          const ISC_SCHAR* name, isc_svc_handle* handle,
                                          unsigned short spbLength, const ISC_SCHAR* spb) = 0;
    virtual ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* handle) = 0;
    virtual ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* handle,
                                         isc_resv_handle* reserved, unsigned short sendLength,
                                         const ISC_SCHAR* sendItems, unsigned short requestLength,
                                         const ISC_SCHAR* requestItems,
                                         unsigned short bufferLength, ISC_SCHAR* buffer) = 0;
    virtual ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* handle,
                                         isc_resv_handle* reserved, unsigned short spbLength,
                                         const ISC_SCHAR* spb) = 0;
    virtual ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) = 0;
    virtual ISC_LONG isc_sqlcode(const ISC_STATUS* status) = 0;
    virtual void isc_sql_interprete(short sqlCode, ISC_SCHAR* buffer, short length) = 0;
    virtual ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned int length,
                                  const ISC_STATUS** status) = 0;
    virtual ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** status) = 0;

    virtual void Unload() = 0;
    virtual void Load() = 0;
    virtual bool IsLoaded() const = 0;
};

using IIBClientLibraryPtr = std::shared_ptr<IIBClientLibrary>;

// The shared, loaded binding for a library file name (compared exactly),
// created and loaded on first request. Raises rtl::EOSError when the library
// cannot be loaded or lacks a required entry.
IIBClientLibraryPtr AcquireClientLibrary(const std::string& libraryName);

} // namespace fib
