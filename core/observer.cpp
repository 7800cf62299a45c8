#include "core/observer.h"

EngineObserver engineObserver;

void resetEngineObserver() { engineObserver = EngineObserver{}; }
