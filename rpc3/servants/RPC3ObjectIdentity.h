// How the objects of one RPC III file name each other: a child's identifier is derived
// from its parent's by fixed rules and turned into a reference by the framework's resolver
// without building the child's servant, which the first call on the reference builds.
// The functions share no state and are safe to call from any thread.
#pragma once

#include "host/utility/CStringU.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace IDL = ::TAMBLIX::NODRA::Framework;

// Type ids of the objects below a file.
inline constexpr const char* kChannelType = "RPC3Channel";
inline constexpr const char* kFunctionRecordType = "RPC3FunctionRecord";
inline constexpr const char* kEquidistantValuesType = "RPC3EquidistantValues";
inline constexpr const char* kRealValuesType = "RPC3RealValues";
inline constexpr const char* kQuantityType = "RPC3Quantity";
inline constexpr const char* kFileType = "RPC3File";

// Identifier of channel k (from 1) of a file: the file's fields 0-4, 8 and 10, type
// "RPC3Channel", empty field 6, the label, and k in decimal. New; the caller owns it.
IDL::ObjectId* getChannelObjectId(const IDL::ObjectId& fileId, CORBA::ULong channel,
                                  const Utility::CStringU& label);

// Values object of an axis of a channel; nil when the resolver would build no servant for
// it (CResolverImpl::mfReference). Axis X gives
// the equidistant time base, Y the samples; another axis leaves type id and axis empty.
IDL::FunctionValues_ptr getChannelValues(const IDL::ObjectId& channelId, IDL::AxisEnum axis);
// Quantity object of an axis, from a channel or one of its values objects; nil likewise.
IDL::Quantity_ptr getAxisQuantity(const IDL::ObjectId& id, IDL::AxisEnum axis);
// Function record object of a channel; nil likewise.
IDL::FunctionRecord_ptr getChannelFunctionRecord(const IDL::ObjectId& channelId);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
