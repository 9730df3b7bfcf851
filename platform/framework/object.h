// CObject: the root of the application framework's class tree, which the
// extension's framework-derived classes (and the found-user record) build on.
// Only what those classes rely on is here: a virtual destructor and the
// serialisation and diagnostic hooks, which do nothing unless overridden.

#ifndef WENDREL_PLATFORM_FRAMEWORK_OBJECT_H_
#define WENDREL_PLATFORM_FRAMEWORK_OBJECT_H_

namespace wendrel {

// The framework's archive and diagnostic stream; nothing in the extension
// serialises or dumps, so they are only named.
class CArchive;
class CDumpContext;

class CObject {
 public:
  virtual ~CObject() = default;

  virtual void Serialize(CArchive& archive) {}
  virtual void AssertValid() const {}
  virtual void Dump(CDumpContext& context) const {}

 protected:
  CObject() = default;
  // Framework objects are not copied: they are owned in one place.
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_OBJECT_H_
