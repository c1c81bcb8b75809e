#pragma once
// A heap COM object with one interface (and IUnknown) that deletes itself
// on its last Release.

#include <objbase.h>

namespace quillon {

template <typename Interface>
class SingleInterfaceObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == __uuidof(Interface) || AnswersAlso(iid)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  SingleInterfaceObject() = default;
  virtual ~SingleInterfaceObject() = default;
  // Further ids the same interface stands for (an event interface that an
  // IDispatch sink implements, say).
  virtual bool AnswersAlso(REFIID) const { return false; }

 private:
  LONG refs_ = 1;
};

}  // namespace quillon
