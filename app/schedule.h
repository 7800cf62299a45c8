#pragma once
// The per-collision schedule: everything that happens every so many collisions, in one
// place and in its fixed order. Only carried-out collisions drive it; the engine calls it
// through its collision hook, before either particle is predicted again.

#include "core/collision.h"

void afterCollision(const CollisionRecord& record);
