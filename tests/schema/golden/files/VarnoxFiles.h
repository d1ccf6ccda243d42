// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The five file wrappers.
#pragma once

#include "files/D2fVarnoxFT_CLUB.h"
#include "files/D2fVarnoxFT_MEET.h"
