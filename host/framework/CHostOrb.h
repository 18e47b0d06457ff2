// The ORB of a program that serves or reads data objects, set up one way for the server,
// the browser and the tests: the ORB takes its own -ORB... options from the command line
// beside the program's settings, and the data objects' POA and the root object are made in
// one place. One per process; create and destroy it on the main thread.
#pragma once

#include <string>
#include <vector>

#include "host/framework/CDataServerImpl.h"
#include "host/framework/CResolverImpl.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

class CHostOrb {
public:
  // What the program decides for the ORB. Options given on the command line take
  // precedence, as the ORB ranks its sources; endpoints given there (-ORBendPoint...)
  // replace `endpoint` rather than add to it.
  struct Settings {
    std::string endpoint;                        // "giop:tcp:HOST:PORT"; empty: the ORB's choice
    unsigned long maxMessageBytes = 64ul << 20;  // largest GIOP message sent or received
    // How long a call to another process, and a connection to it, may take before it fails
    // with TIMEOUT (see sfIsTimeout); 0: as long as it takes.
    unsigned long callTimeoutMilliseconds = 0;
  };

  // Whether `e` says that a call took longer than its timeout.
  static bool sfIsTimeout(const CORBA::SystemException& e);

  // For the programs' usage texts.
  static constexpr const char* kOrbOptionsHelp =
      "ORB options (-ORBtraceLevel 10, -ORBInitRef NAME=URL, -ORBendPoint giop:tcp:HOST:PORT, ...) "
      "are passed to the ORB; -ORBhelp lists them.";

  // Splits a command line the way the ORB reads it: each "-ORB<name>" with the argument
  // after it ("-ORBhelp" alone) goes to `orb`; the rest, argv[0] first, to `program`.
  static void sfSplitArguments(int argc, const char* const* argv, std::vector<std::string>& program,
                               std::vector<std::string>& orb);

  // When the ORB's arguments hold -ORBhelp, lets the ORB print its options and answers true:
  // the program was asked for help and ends there (status 0), whatever else it was given.
  static bool sfShowOrbHelpIfAsked(const std::string& programName,
                                   const std::vector<std::string>& orbArguments);

  // Initialises the ORB from `programName`, the ORB's arguments and the settings. Throws
  // CORBA::SystemException (INITIALIZE, BAD_PARAM) when the ORB refuses an argument.
  CHostOrb(const std::string& programName, const std::vector<std::string>& orbArguments,
           const Settings& settings);
  // Drops the data objects' servants, then destroys the ORB.
  ~CHostOrb();
  CHostOrb(const CHostOrb&) = delete;
  CHostOrb& operator=(const CHostOrb&) = delete;

  CORBA::ORB_ptr mfOrb() const { return mOrb.in(); }
  // False when the command line's endpoints replaced the settings' one.
  bool mfUsesSettingsEndpoint() const { return mUsesSettingsEndpoint; }


  // Makes the data objects' POA (through the resolver) and the root object. With a
  // `corbalocKey`, the root object is published under it, so that clients reach it as
  // corbaloc::HOST:PORT/KEY. Register the servant types (resolver, root) before mpActivate.
  // REQUIRES: called at most once.
  CDataServerImpl& mpServeDataObjects(const CResolverImpl::Settings& settings,
                                      const std::string& corbalocKey = "");
  // The root object's reference. REQUIRES: mpServeDataObjects called.
  ::TAMBLIX::NODRA::Framework::DataServer_ptr mfGetRoot() const;

  // Requests are dispatched from now on.
  void mpActivate();
  // Serves requests until the ORB is shut down (ORB::shutdown from any thread).
  void mpRun();

private:
  CORBA::ORB_var mOrb;
  PortableServer::POA_var mRootPoa;
  PortableServer::POA_var mInsPoa;  // set when the root object is published under a key
  ::TAMBLIX::NODRA::Framework::DataServer_var mRoot;
  bool mServing = false;
  bool mUsesSettingsEndpoint = false;
};

}  // namespace TamblixHq::NODRA::Framework
