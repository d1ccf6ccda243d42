// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// Every generated class of the access layer.
#pragma once

#include "access/VarnoxRecordInterfaces.h"
#include "access/D2VarnoxFT_CLUB.h"
#include "access/D2VarnoxFT_MEET.h"
