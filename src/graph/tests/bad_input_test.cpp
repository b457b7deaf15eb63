#include "graph/tests/graph_fixture.h"
