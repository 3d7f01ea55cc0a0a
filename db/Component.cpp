#include "db/Component.h"

#include <algorithm>

namespace kv {

TComponent::~TComponent() {
  // One at a time: an observer's Notification may destroy another observer, which then leaves
  // this list by itself.
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.front();
    freeNotifies_.erase(freeNotifies_.begin());
    std::erase(other->freeNotifies_, this);
    other->Notification(this, TOperation::opRemove);
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), AComponent) == freeNotifies_.end()) {
    freeNotifies_.push_back(AComponent);
  }
  if (std::find(AComponent->freeNotifies_.begin(), AComponent->freeNotifies_.end(), this) ==
      AComponent->freeNotifies_.end()) {
    AComponent->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  std::erase(freeNotifies_, AComponent);
  std::erase(AComponent->freeNotifies_, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

}  // namespace kv
