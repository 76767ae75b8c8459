#pragma once
#include "survey_team.h"

#include <cstdint>

// pointfall-batch under an MPI launcher (mpirun, srun): the processes of
// the job form one SurveyTeam over MPI_COMM_WORLD. Only the main thread
// calls MPI; the casting threads never do.
//
// The survey's pulses are cut into pieces of a few thousand pulses and
// dealt out on demand: each member asks for two pieces ahead and gets a new
// one for every piece it sends back, so a member over a busy part of the
// model simply takes fewer. The leader casts pieces too and answers the
// others between blocks of its own cast. A member sends back the laser
// records of a piece after the cast and the error step (112 bytes a pulse)
// and its returns; the leader puts them in place, so the records, the log
// and every file it then writes are those of one process. The members must
// run the same binary (the records travel as bytes).
//
// A member that fails reports "Error: process R of N: <reason>" and ends
// the whole job (MPI_Abort, status 1). One that dies is seen by the
// launcher, which ends the others; no output is open while pieces are cast.
class MpiTeam final : public SurveyTeam {
public:
    MpiTeam(int rank, int size) : rank_(rank), size_(size) {}

    bool leader() const override { return rank_ == 0; }
    int size() const override { return size_; }
    std::uint32_t leaderValue(std::uint32_t value) override;
    bool leaderVerdict(bool ok) override;
    bool allAgree(bool ok) override;
    void castSurvey(SimulationData& data, const CastJob& job) override;

    // False while the others may still wait in a collective call for this
    // member: one that returns then (an unforeseen failure on its own) must
    // end the job.
    bool othersReleased() const { return released_; }
    [[noreturn]] void fail(const std::string& reason) const;

private:
    void lead(SimulationData& data, const CastJob& job);
    void follow(SimulationData& data, const CastJob& job);

    int rank_;
    int size_;
    bool released_ = true;
};

// True when this process was started by an MPI launcher (its environment
// says so); nothing of MPI is touched otherwise.
bool started_by_mpi_launcher();
// Runs pointfall-batch as one member of the launcher's job and returns its
// exit status. With a single process it is the plain run.
int run_batch_with_mpi(int argc, char** argv);
