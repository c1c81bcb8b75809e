#include "ConnectionPoint.h"

#include <new>

#include "SingleInterfaceObject.h"

namespace quillon {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer& container, REFIID iid) : container_(container), iid_(iid) {}

std::vector<ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
  std::vector<ComPtr<IUnknown>> out;
  out.reserve(sinks_.size());
  for (const auto& c : sinks_) out.push_back(c.sink);
  return out;
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = &container_;
  container_.AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  // Event sinks are often plain IDispatch objects that do not admit to
  // the event interface's own id; they are called through IDispatch anyway.
  ComPtr<IUnknown> held;
  if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(held.Put())))) {
    if (iid_ == IID_IPropertyNotifySink ||
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(held.Put()))))
      return CONNECT_E_CANNOTCONNECT;
  }
  try {
    sinks_.push_back({nextCookie_, held});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *cookie = nextCookie_++;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie == cookie) {
      // Released after the erase: the sink's release may call back.
      ComPtr<IUnknown> dropped = std::move(it->sink);
      sinks_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return E_NOTIMPL;
}

namespace {

class PointEnumerator final : public SingleInterfaceObject<IEnumConnectionPoints> {
 public:
  PointEnumerator(IUnknown* owner, std::vector<IConnectionPoint*> points, size_t position)
      : owner_(owner), points_(std::move(points)), position_(position) {}

  STDMETHODIMP Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
    if (!out || (count != 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < points_.size()) {
      out[n] = points_[position_++];
      out[n]->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = points_.size() - position_;
    const bool all = count <= left;
    position_ += all ? count : left;
    return all ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** out) override {
    return NewConnectionPointEnumerator(owner_.Get(), points_, position_, out);
  }

 private:
  ObjectCount counted_;
  ComPtr<IUnknown> owner_;  // keeps the points alive
  std::vector<IConnectionPoint*> points_;
  size_t position_;
};

}  // namespace

HRESULT NewConnectionPointEnumerator(IUnknown* owner, std::vector<IConnectionPoint*> points, size_t position,
                                     IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) PointEnumerator(owner, std::move(points), position);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace quillon
