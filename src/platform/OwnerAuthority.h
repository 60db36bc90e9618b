#pragma once

// The authority that confirms that the person at the computer is its owner, with the system's
// own authentication dialog. The helper never sees the credential: it asks, the system shows
// its dialog, and the answer says only how it went.
//
//   PolkitOwnerAuthority authority;  // PolkitOwnerAuthority.h
//   auto cancel = authority.check("查看已保存的密码", [](AuthorityAnswer answer) {
//     if (answer.kind == AuthorityAnswer::Kind::Authorized) ...;  // on the main queue
//   });
//   cancel();  // ends a dialog nobody waits for any more

#include <functional>
#include <string>

namespace wren::platform {

struct AuthorityAnswer {
  enum class Kind {
    Authorized,     // the person proved who they are (or the system trusts them already)
    NotAuthorized,  // the person dismissed the dialog or failed, or a rule refused
    NoAuthority,    // no authority to ask: no system bus, or no polkit daemon on it
    NoAgent,        // the check needed a dialog and no authentication agent was there to show it
    NoAction,       // the helper's action is not installed
    Failed,         // any other failure of the check, a cancelled one included
  };
  Kind kind = Kind::Failed;
  // The system's description, for every kind but Authorized and NotAuthorized.
  std::string description;
};

class OwnerAuthority {
 public:
  using Answer = std::function<void(AuthorityAnswer)>;
  using Cancel = std::function<void()>;

  virtual ~OwnerAuthority() = default;
  // Starts one check that shows `reason` to the person, from any thread, and returns once it
  // is under way: the wait for the person holds no thread. `answer` is called exactly once, on
  // the main queue, however the check ends. The returned function, called from any thread,
  // abandons the check: the dialog goes away and the answer comes as Failed, unless it had
  // come already.
  virtual Cancel check(const std::string& reason, Answer answer) = 0;
};

}  // namespace wren::platform
