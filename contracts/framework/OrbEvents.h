// Events: OrbEvent, a list of handlers that an owner raises, and the change
// event that every top-level container carries (ObjectChanged, with
// OrbObjectChangedEventArgs and ObjectChangedEventHandler).
//
// Handlers are added and removed from application threads while the kernel's
// update notifications raise the event on threads of the kernel's choosing,
// so the list is guarded and a raise works on a snapshot of it: a handler
// may remove itself, or add another, while it runs. Defined here because the
// library's containers hold one as a member.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Tarvex::Orb::DataDirectAcces {

template <class Signature>
class OrbEvent;

// An event whose handlers take `Args`. Handlers run in the order they were
// added, on the raising thread. A handler that throws stops the raise and
// the exception reaches the raiser; the handlers after it do not run.
template <class... Args>
class OrbEvent<void(Args...)> {
 public:
  using Handler = std::function<void(Args...)>;
  // Identifies one added handler; never 0.
  using Token = uint64_t;

  OrbEvent() = default;
  OrbEvent(const OrbEvent&) = delete;
  OrbEvent& operator=(const OrbEvent&) = delete;

  ~OrbEvent() { delete m_pState.load(std::memory_order_acquire); }

  // Adds `handler` at the end of the list. An empty handler is not added and
  // gives 0. Adding the same handler twice adds it twice.
  Token Add(Handler handler) {
    if (!handler) return 0;
    State& state = EnsureState();
    std::lock_guard lock(state.mutex);
    const Token token = state.nextToken++;
    auto pNext =
        state.pHandlers ? std::make_shared<List>(*state.pHandlers) : std::make_shared<List>();
    pNext->emplace_back(token, std::move(handler));
    state.pHandlers = std::move(pNext);
    return token;
  }

  // Removes the handler added under `token`; false when there is none (0, an
  // unknown or an already removed token). A raise in progress on another
  // thread may still call it once.
  bool Remove(Token token) {
    State* pState = m_pState.load(std::memory_order_acquire);
    if (pState == nullptr) return false;
    std::lock_guard lock(pState->mutex);
    const auto& pHandlers = pState->pHandlers;
    if (!pHandlers) return false;
    for (auto it = pHandlers->begin(); it != pHandlers->end(); ++it) {
      if (it->first == token) {
        auto pNext = std::make_shared<List>(*pHandlers);
        pNext->erase(pNext->begin() + (it - pHandlers->begin()));
        pState->pHandlers = pNext->empty() ? nullptr : std::move(pNext);
        return true;
      }
    }
    return false;
  }

  // Calls every handler present when the raise starts. The list is never
  // changed in place (Add and Remove replace it), so a raise holds the list
  // it started with and copies nothing.
  void Raise(Args... args) const {
    State* pState = m_pState.load(std::memory_order_acquire);
    if (pState == nullptr) return;
    std::shared_ptr<const List> pSnapshot;
    {
      std::lock_guard lock(pState->mutex);
      if (!pState->pHandlers) return;
      pSnapshot = pState->pHandlers;
    }
    for (const auto& entry : *pSnapshot) entry.second(args...);
  }

  bool Empty() const {
    State* pState = m_pState.load(std::memory_order_acquire);
    if (pState == nullptr) return true;
    std::lock_guard lock(pState->mutex);
    return !pState->pHandlers;
  }

 private:
  using List = std::vector<std::pair<Token, Handler>>;
  struct State {
    std::mutex mutex;
    // Null when there is no handler.
    std::shared_ptr<const List> pHandlers;
    Token nextToken = 1;
  };
  // The state made by the first Add, once for all threads.
  State& EnsureState() {
    State* pState = m_pState.load(std::memory_order_acquire);
    if (pState != nullptr) return *pState;
    auto pNew = std::make_unique<State>();
    if (m_pState.compare_exchange_strong(pState, pNew.get(), std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
      return *pNew.release();
    }
    return *pState;
  }

  // Null until a handler is added: an event never handled (most values of
  // a view model) takes one pointer and a raise of it no lock.
  std::atomic<State*> m_pState{nullptr};
};

class IOrbUpdatableObject;

// What changed, as the kernel reported it for one of the file's objects: the
// values that reach OrbFileM::OnObjectUpdateEx.
class OrbObjectChangedEventArgs {
 public:
  OrbObjectChangedEventArgs(int32_t iObjId, std::u16string csText, uint32_t uiWord,
                            uint64_t uiUpdateId)
      : m_iObjId(iObjId), m_csText(std::move(csText)), m_uiWord(uiWord), m_uiUpdateId(uiUpdateId) {}

  // Kernel object number of the changed object.
  int32_t ObjId() const { return m_iObjId; }
  // Text of the update (the update command's formatted text).
  const std::u16string& Text() const { return m_csText; }
  // The update's 32-bit word, as the kernel gave it.
  uint32_t Word() const { return m_uiWord; }
  // The kernel's id of the update.
  uint64_t UpdateId() const { return m_uiUpdateId; }

 private:
  int32_t m_iObjId;
  std::u16string m_csText;
  uint32_t m_uiWord;
  uint64_t m_uiUpdateId;
};

// The change event of a top-level container. The sender is the container
// itself, valid for the duration of the call.
using ObjectChangedEvent =
    OrbEvent<void(IOrbUpdatableObject* pSender, const OrbObjectChangedEventArgs& args)>;
using ObjectChangedEventHandler = ObjectChangedEvent::Handler;

}  // namespace Tarvex::Orb::DataDirectAcces
