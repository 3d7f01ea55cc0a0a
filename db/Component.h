// The component base of the database layer's objects: a name, an integer tag and the free
// notification by which an object learns that another one it links to is destroyed.
#pragma once

#include <string>
#include <vector>

namespace kv {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  TComponent() = default;
  // Tells every component linked by FreeNotification (Notification(this, opRemove)). At that
  // point only this object's address is meaningful: observers compare pointers, nothing more.
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // AComponent is told when this component is destroyed, and this one when AComponent is: the
  // link works both ways, so neither keeps a pointer to a destroyed object. Adding a link twice
  // keeps one.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  std::string Name;
  int Tag = 0;

 protected:
  // Called on a linked component when `AComponent` is being destroyed (opRemove).
  virtual void Notification(TComponent* AComponent, TOperation Operation);

 private:
  std::vector<TComponent*> freeNotifies_;
};

}  // namespace kv
