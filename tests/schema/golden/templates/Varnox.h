// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The record model, the file templates, their descriptors, the catalogue, the
// lists of files and members and the object face's containment tree.
#pragma once

#include "templates/VarnoxRecords.h"
#include "templates/CkxVarnoxFT_CLUB.h"
#include "templates/CkxVarnoxFT_MEET.h"
#include "templates/VarnoxDescriptors.h"
#include "templates/VarnoxCatalogue.h"
#include "templates/VarnoxFiles.h"
#include "templates/VarnoxObjectFace.h"
