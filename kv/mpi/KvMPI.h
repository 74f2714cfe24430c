// KvMPI: the optional MPI layer in one include (target kvga::mpi; needs an MPI implementation).
//
//   RunMPIWorkers, TKvMPIEvaluator, TKvMPIWorker   worker evaluation: rank 0 runs the engine and
//                                                  every rank scores (kv/mpi/worker_evaluation.h)
//   TKvMPIIslands                                  the island model on a ring (kv/mpi/islands.h)
//   CheckMessage, MakeMessage, EMPIException,
//   EMPIRemoteError                                the messages and their checks
//   (kv/mpi/messages.h)
#pragma once

#include "kv/mpi/islands.h"
#include "kv/mpi/messages.h"
#include "kv/mpi/worker_evaluation.h"
