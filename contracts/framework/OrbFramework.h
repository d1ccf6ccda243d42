// The framework contract: everything the object face requires of the
// framework, in one include.
//
//   OrbValues.h           KxTime, KxPrecision, AppUpdateInfo, OrbCmd,
//                         OrbDateTime, OrbMemberInfo, OrbFormatArg, OrbFormat
//   OrbKernelException.h  OrbKernelException, OrbAccessFault
//   OrbEvents.h           OrbEvent, ObjectChanged event types
//   OrbInterfaces.h       the container, record, path and view-model interfaces
//   OrbMvvm.h             view-model bases, observable collections, data contexts
//   OrbApp.h              OrbApp, KxNetTask, KxUpdateUmCallBack, Modim
//   OrbFileM.h            OrbFileM, the open-files table
//
// Tarvex::Orb holds the application-level types (OrbApp, Modim, OrbCmd,
// KxTime, KxPrecision, KxUpdateUmCallBack, KxNetTask, AppUpdateInfo);
// Tarvex::Orb::DataDirectAcces holds the rest. What is defined in these
// headers is complete; what is only declared is implemented by the framework
// library.
#pragma once

#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbEvents.h"
#include "contracts/framework/OrbFileM.h"
#include "contracts/framework/OrbInterfaces.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbMvvm.h"
#include "contracts/framework/OrbValues.h"
