// pointfall-batch: runs a LiDAR survey simulation from the command line.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "batch_run.h"
#ifdef POINTFALL_WITH_MPI
#include "mpi_team.h"
#endif

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
#ifdef POINTFALL_WITH_MPI
    // Under mpirun or srun: one member of a survey run by several processes.
    if (started_by_mpi_launcher()) return run_batch_with_mpi(argc, argv);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = run_batch(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
    std::cout.flush();
    return status;
}
