// An object published under a name in the naming service for as long as this lives, so that
// clients find a server by name (corbaname::HOST:PORT#NAME) rather than by its address.
#pragma once

#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <mutex>
#include <string>

namespace TamblixHq::NODRA::Framework {

class CNamingServiceBinding {
public:
  // What mpUnbind did.
  enum class Outcome {
    kNotBound,  // nothing to do: never bound, or unbound already
    kRemoved,   // the name is gone
    kTaken,     // the name refers to another object now (another server took it): left as it is
    kFailed     // the naming service did not answer or refused; mfGetProblem says why
  };

  // The components of a name in its usual string form: "/" between components, "." between
  // a component's id and kind, "\" taking the next character as it stands ("site/rig1",
  // "rig1.server"). Throws std::invalid_argument saying what is wrong: an empty name or
  // component, an empty id, a second "." in a component, a "\" at the end.
  static CosNaming::Name sfParseName(const std::string& text);

  // Binds `object` under `name` (see sfParseName) in the naming service that the ORB's
  // "NameService" initial reference leads to (-ORBInitRef NameService=corbaname::HOST:PORT
  // or the ORB's configuration). Whatever the name was bound to before, from a server that
  // did not stop cleanly say, is replaced; missing contexts on the way are made. Each call
  // to the naming service gives up after `timeoutMs`. A naming service that is not
  // configured, not reachable or refuses leaves the object unbound (mfIsBound false,
  // mfGetProblem says why) and throws nothing. Throws std::invalid_argument for an
  // invalid name.
  CNamingServiceBinding(CORBA::ORB_ptr orb, const std::string& name, CORBA::Object_ptr object,
                        unsigned long timeoutMs = 10000);
  // Unbinds as mpUnbind does, silently. REQUIRES: the ORB is not destroyed yet.
  ~CNamingServiceBinding();
  CNamingServiceBinding(const CNamingServiceBinding&) = delete;
  CNamingServiceBinding& operator=(const CNamingServiceBinding&) = delete;

  bool mfIsBound() const;
  // Why the last binding or unbinding failed ("TRANSIENT (TRANSIENT_ConnectFailed)", ...).
  std::string mfGetProblem() const;

  // Removes the name, but only while it still refers to our object; contexts made on the
  // way stay, as other names may live in them. Safe to call more than once, from any
  // thread. REQUIRES: the ORB is not destroyed yet.
  Outcome mpUnbind();

private:
  void mpBind(CORBA::ORB_ptr orb, unsigned long timeoutMs);

  mutable std::mutex mMutex;
  CosNaming::Name mName;
  CORBA::Object_var mObject;
  CosNaming::NamingContext_var mRootContext;
  bool mBound = false;
  std::string mProblem;
};

}  // namespace TamblixHq::NODRA::Framework
