#pragma once
// The per-collision schedule: everything that happens every so many collisions, in one
// place and in its fixed order. Only carried-out collisions drive it.

#include "core/collision.h"

void afterCollision(const CollisionRecord& record);
