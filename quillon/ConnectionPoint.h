#pragma once
// A connection point as the control needs it: sinks of one interface,
// advised and unadvised by cookie, and a snapshot to call them through.

#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "ComPtr.h"
#include "Module.h"

namespace quillon {

class ConnectionPoint final : public IConnectionPoint {
 public:
  // The container is the control; it owns this object and outlives every
  // reference handed out, because each of those also holds the control.
  ConnectionPoint(IConnectionPointContainer& container, REFIID iid);

  // The sinks at this moment, so that a sink may unadvise while it is called.
  std::vector<ComPtr<IUnknown>> Sinks() const;
  // Drops every sink, when the control is closed.
  void Clear() { sinks_.clear(); }

  // IUnknown: lifetime is the container's.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return container_.AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return container_.Release(); }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override;

 private:
  struct Connection {
    DWORD cookie;
    ComPtr<IUnknown> sink;
  };
  IConnectionPointContainer& container_;
  IID iid_;
  std::vector<Connection> sinks_;
  DWORD nextCookie_ = 1;
};

// Enumerates the control's connection points.
HRESULT NewConnectionPointEnumerator(IUnknown* owner, std::vector<IConnectionPoint*> points, size_t position,
                                     IEnumConnectionPoints** out);

}  // namespace quillon
