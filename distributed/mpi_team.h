#pragma once
#include "survey_team.h"

#include <mpi.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cstdint>

// pointfall-batch under an MPI launcher (mpirun, srun): the processes of
// the job form one SurveyTeam over MPI_COMM_WORLD. Only the main thread
// calls MPI; the casting threads never do.
//
// Each chunk of the leader's pipeline (the whole survey in memory) is cut
// into pieces of a few thousand pulses dealt out on demand: each member
// asks for two pieces ahead and gets a new one for every piece it sends
// back, so a member over a busy part of the model simply takes fewer. The
// leader casts pieces too and answers the others between blocks of its own
// cast, then feeds the chunk to the sinks in survey order. A member casts,
// perturbs and formats a piece for every file that formats piece by piece
// (survey_team.h: the parts are gathered in order, not written with
// MPI-IO) and sends back the bytes with each file's summary of the piece
// (a LAS 1.2 point takes 20 bytes, where its laser record took 112) and
// its return count; the leader appends them in survey order, so the log
// and every file are those of one process. Of the records, only what the
// leader's other sinks read travels too: for the coverage raster, the hit
// triangle of every pulse (4 bytes) and the hit point of every return (24
// bytes); whole records (112 bytes) and returns for a sink that reads them
// all. The members must run the same binary (records and summaries travel
// as bytes).
//
// A member that fails reports "Error: process R of N: <reason>" and ends
// the whole job (MPI_Abort, status 1). One that dies is seen by the
// launcher, which ends the others; outputs are written under temporary
// names until complete, so none is left half-written under its final name.
class MpiTeam final : public SurveyTeam {
public:
    MpiTeam(int rank, int size) : rank_(rank), size_(size) {}

    bool leader() const override { return rank_ == 0; }
    int size() const override { return size_; }
    std::uint32_t leaderValue(std::uint32_t value) override;
    bool leaderVerdict(bool ok) override;
    bool allAgree(bool ok) override;
    void beginCast(SimulationData& data, const CastJob& job) override;
    void castChunk(std::uint64_t first, LaserLine* lasers, std::size_t count, std::vector<LidarPoint>& points,
                   ChunkPieces& pieces, const std::function<void(std::size_t)>& progress) override;
    void endCast() override;

    // False while the others may still wait in a collective call for this
    // member: one that returns then (an unforeseen failure on its own) must
    // end the job.
    bool othersReleased() const { return released_; }
    [[noreturn]] void fail(const std::string& reason) const;

private:
    void follow();
    // Leader: answers one message of another member (a piece sent back or
    // a request), dealing the next piece of the chunk or keeping the member
    // waiting for the next chunk.
    void answer(const MPI_Status& status);
    void answerWaiting();
    void deal(int member);

    int rank_;
    int size_;
    bool released_ = true;

    std::unique_ptr<SurveyPieces> pieces_;
    std::unique_ptr<PieceFormatting> formatting_;
    ChunkRecords records_ = ChunkRecords::Whole;  // what of the records comes back
    std::uint64_t pieceSize_ = 0;
    int stops_ = 0;
    std::deque<int> waiting_;  // members asking for a piece
    std::vector<char> message_;
    // The chunk being cast (leader).
    LaserLine* chunk_ = nullptr;
    std::uint64_t chunkFirst_ = 0, chunkCount_ = 0, nextPiece_ = 0, piecesDone_ = 0, pieceCount_ = 0;
    ChunkPieces* out_ = nullptr;
    std::vector<std::vector<LidarPoint>> returns_;
    std::uint64_t pulsesDone_ = 0;  // of the chunk
    const std::function<void(std::size_t)>* progress_ = nullptr;
};

// True when this process was started by an MPI launcher (its environment
// says so); nothing of MPI is touched otherwise.
bool started_by_mpi_launcher();
// Runs pointfall-batch as one member of the launcher's job and returns its
// exit status. With a single process it is the plain run.
int run_batch_with_mpi(int argc, char** argv);
