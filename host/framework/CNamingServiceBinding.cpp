#include "host/framework/CNamingServiceBinding.h"

#include <omniORB4/omniORB.h>

#include <stdexcept>

namespace TamblixHq::NODRA::Framework {

namespace {

std::string fSystemProblem(const CORBA::SystemException& e) {
  const char* minor = e.NP_minorString();
  return std::string(e._name()) + " (" + (minor ? minor : "no detail") + ")";
}

std::string fNotFoundProblem(const CosNaming::NamingContext::NotFound& e) {
  switch (e.why) {
    case CosNaming::NamingContext::missing_node: return "NotFound (a context on the way is missing)";
    case CosNaming::NamingContext::not_context: return "NotFound (a part of the name is no context)";
    case CosNaming::NamingContext::not_object: return "NotFound (the name is bound to a context)";
  }
  return "NotFound";
}

// The first `length` components of `name`.
CosNaming::Name fPrefix(const CosNaming::Name& name, CORBA::ULong length) {
  CosNaming::Name prefix;
  prefix.length(length);
  for (CORBA::ULong i = 0; i < length; ++i) prefix[i] = name[i];
  return prefix;
}

}  // namespace

CosNaming::Name CNamingServiceBinding::sfParseName(const std::string& text) {
  if (text.empty()) throw std::invalid_argument("the name is empty");
  CosNaming::Name name;
  std::string id, kind;
  bool inKind = false;
  auto addComponent = [&]() {
    if (id.empty() && kind.empty() && !inKind) throw std::invalid_argument("a component is empty");
    if (id.empty()) throw std::invalid_argument("a component has no id");
    const CORBA::ULong n = name.length();
    name.length(n + 1);
    name[n].id = id.c_str();
    name[n].kind = kind.c_str();
    id.clear();
    kind.clear();
    inKind = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '/') {
      addComponent();
      continue;
    }
    if (c == '.') {
      if (inKind) throw std::invalid_argument("a component has more than one \".\"");
      inKind = true;
      continue;
    }
    if (c == '\\') {
      if (++i == text.size()) throw std::invalid_argument("the name ends in \"\\\"");
      c = text[i];
    }
    (inKind ? kind : id).push_back(c);
  }
  addComponent();
  return name;
}

CNamingServiceBinding::CNamingServiceBinding(CORBA::ORB_ptr orb, const std::string& name,
                                             CORBA::Object_ptr object, unsigned long timeoutMs)
    : mName(sfParseName(name)), mObject(CORBA::Object::_duplicate(object)) {
  mpBind(orb, timeoutMs);
}

CNamingServiceBinding::~CNamingServiceBinding() {
  try {
    mpUnbind();
  } catch (...) {
  }
}

void CNamingServiceBinding::mpBind(CORBA::ORB_ptr orb, unsigned long timeoutMs) {
  std::lock_guard<std::mutex> lock(mMutex);
  CORBA::Object_var object;
  try {
    object = orb->resolve_initial_references("NameService");
  } catch (const CORBA::Exception&) {  // ORB::InvalidName, or NO_RESOURCES from omniORB
    mProblem = "no naming service is configured (-ORBInitRef NameService=corbaname::HOST:PORT)";
    return;
  }
  try {
    // A naming service host that never answers must not hold the server up for minutes.
    omniORB::setClientCallTimeout(object, timeoutMs);
    mRootContext = CosNaming::NamingContext::_narrow(object);
    if (CORBA::is_nil(mRootContext)) {
      mProblem = "the NameService reference is no naming context";
      return;
    }
    omniORB::setClientCallTimeout(mRootContext, timeoutMs);
    for (CORBA::ULong length = 1; length < mName.length(); ++length) {
      try {
        CosNaming::NamingContext_var made = mRootContext->bind_new_context(fPrefix(mName, length));
      } catch (const CosNaming::NamingContext::AlreadyBound&) {
        // Made before, by us or another server; rebind finds out if it is no context.
      }
    }
    mRootContext->rebind(mName, mObject);
    mBound = true;
    mProblem.clear();
  } catch (const CosNaming::NamingContext::NotFound& e) {
    mProblem = fNotFoundProblem(e);
  } catch (const CosNaming::NamingContext::CannotProceed&) {
    mProblem = "CannotProceed (the naming service cannot resolve a context on the way)";
  } catch (const CosNaming::NamingContext::InvalidName&) {
    mProblem = "InvalidName (the naming service refuses the name)";
  } catch (const CORBA::SystemException& e) {
    mProblem = fSystemProblem(e);
  } catch (const CORBA::Exception& e) {
    mProblem = e._name();
  }
}

bool CNamingServiceBinding::mfIsBound() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mBound;
}

std::string CNamingServiceBinding::mfGetProblem() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mProblem;
}

CNamingServiceBinding::Outcome CNamingServiceBinding::mpUnbind() {
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mBound) return Outcome::kNotBound;
  mBound = false;
  try {
    // Another server may have rebound the name since; its entry is not ours to remove.
    CORBA::Object_var bound = mRootContext->resolve(mName);
    if (!mObject->_is_equivalent(bound)) return Outcome::kTaken;
    mRootContext->unbind(mName);
    return Outcome::kRemoved;
  } catch (const CosNaming::NamingContext::NotFound&) {
    return Outcome::kRemoved;  // someone removed it already
  } catch (const CORBA::SystemException& e) {
    mProblem = fSystemProblem(e);
  } catch (const CORBA::Exception& e) {
    mProblem = e._name();
  }
  return Outcome::kFailed;
}

}  // namespace TamblixHq::NODRA::Framework
