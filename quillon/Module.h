#pragma once
// What the objects of the library share with its entry points.

#include <windows.h>

namespace quillon {

HINSTANCE ModuleHandle();

// Every COM object of the library counts itself here, so that
// DllCanUnloadNow can tell whether anything still uses the code.
void ObjectCreated();
void ObjectDestroyed();

// Counts one object for as long as the owner lives.
class ObjectCount {
 public:
  ObjectCount() { ObjectCreated(); }
  ObjectCount(const ObjectCount&) = delete;
  ObjectCount& operator=(const ObjectCount&) = delete;
  ~ObjectCount() { ObjectDestroyed(); }
};

}  // namespace quillon
