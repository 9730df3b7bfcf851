#include "directory/worker_state.h"

namespace wendrel {

WorkerState& GetWorkerState() {
  static WorkerState state;
  return state;
}

}  // namespace wendrel
