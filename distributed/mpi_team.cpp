#include "mpi_team.h"

#include "app/simulation_data.h"
#include "batch_run.h"

#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

static_assert(std::is_trivially_copyable<LaserLine>::value, "laser records travel as bytes");
static_assert(std::is_trivially_copyable<LidarPoint>::value, "returns travel as bytes");
static_assert(std::is_trivially_copyable<Vec3>::value, "hit points travel as bytes");

namespace {

enum Tag : int { kReady = 1, kResult = 2, kAssign = 3, kStop = 4 };
// Pieces each member asks for ahead of the one it casts.
constexpr int kAhead = 2;

// The head of a piece sent back: where it goes and what follows it (a
// BlockHead per file formatted, their summaries, refusals and bytes in that
// order, then, as `records` says, the hit triangle of every pulse and the
// hit point of every return, or the laser records and the returns).
struct PieceHead {
    std::uint64_t index;  // survey index of the first pulse
    std::uint64_t lasers;
    std::uint64_t points;  // returns
    std::uint64_t blocks;
    std::uint64_t records;
};

struct BlockHead {
    std::uint64_t summary;
    std::uint64_t refusal;
    std::uint64_t bytes;
};

// Pulses per piece: small enough to deal several to every member, large
// enough that a message carries megabytes. The bytes do not depend on it.
std::uint64_t piece_pulses(std::uint64_t pulses, int members) {
    const std::uint64_t share = pulses / (std::uint64_t(members) * 8u);
    return std::clamp<std::uint64_t>(share, 1024u, 32768u);
}

void check(int code, const char* what) {
    if (code != MPI_SUCCESS) throw std::runtime_error(std::string("MPI ") + what + " failed");
}

// Waiting in MPI spins a core; a member waits seconds for the leader (while
// it lays the lasers or writes the files), so it looks now and then instead.
void nap() {
    const timespec pause{0, 200 * 1000};  // 0.2 ms
    nanosleep(&pause, nullptr);
}

void wait_for(MPI_Request& request, const char* what) {
    for (;;) {
        int done = 0;
        check(MPI_Test(&request, &done, MPI_STATUS_IGNORE), what);
        if (done) return;
        nap();
    }
}

// A message's arrival from `source`, looked for now and then.
MPI_Status probe(int source) {
    for (;;) {
        int flag = 0;
        MPI_Status status;
        check(MPI_Iprobe(source, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status), "probe");
        if (flag) return status;
        nap();
    }
}

void broadcast(void* data, int count, MPI_Datatype type) {
    MPI_Request request;
    check(MPI_Ibcast(data, count, type, 0, MPI_COMM_WORLD, &request), "broadcast");
    wait_for(request, "broadcast");
}

}  // namespace

std::uint32_t MpiTeam::leaderValue(std::uint32_t value) {
    broadcast(&value, 1, MPI_UINT32_T);
    released_ = false;
    return value;
}

bool MpiTeam::leaderVerdict(bool ok) {
    int flag = ok ? 1 : 0;
    broadcast(&flag, 1, MPI_INT);
    released_ = flag == 0;
    return flag != 0;
}

bool MpiTeam::allAgree(bool ok) {
    int mine = ok ? 1 : 0, all = 0;
    MPI_Request request;
    check(MPI_Iallreduce(&mine, &all, 1, MPI_INT, MPI_LAND, MPI_COMM_WORLD, &request), "reduction");
    wait_for(request, "reduction");
    released_ = all == 0;
    return all != 0;
}

void MpiTeam::fail(const std::string& reason) const {
    // One write, so the launcher's own notes cannot cut the line.
    const std::string line =
        "Error: process " + std::to_string(rank_) + " of " + std::to_string(size_) + ": " + reason + "\n";
    std::cerr.flush();
    if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Nothing more to be done about a lost message.
    }
    MPI_Abort(MPI_COMM_WORLD, 1);
    std::_Exit(1);
}

namespace {

// What the leader hands every member before the pieces.
struct CastStart {
    std::uint64_t pulses;
    std::uint64_t pieceSize;
    std::uint32_t uniform;
    std::uint32_t cached;
    std::uint32_t errorsOn;
    double deviate;
    std::uint32_t records;
    std::uint32_t formatters;
};

NormalDeviateState state_of(const CastStart& start) {
    NormalDeviateState s;
    s.uniform = start.uniform;
    s.cached = start.cached != 0;
    s.deviate = start.deviate;
    return s;
}

}  // namespace

void MpiTeam::beginCast(SimulationData& data, const CastJob& job) {
    try {
        CastStart start{};
        Formatters formatters;
        if (leader()) {
            const NormalDeviateState s = normal_deviate_state();
            if (job.formatters) formatters = job.formatters(SurveyContext{&data, job.pulses});
            start = CastStart{job.pulses,
                              piece_pulses(job.pulses, size_),
                              s.uniform,
                              s.cached ? 1u : 0u,
                              job.errors ? 1u : 0u,
                              s.deviate,
                              static_cast<std::uint32_t>(job.records),
                              static_cast<std::uint32_t>(formatters.size())};
        }
        broadcast(&start, sizeof start, MPI_BYTE);
        released_ = false;
        pieces_ = std::make_unique<SurveyPieces>(data, job.seed, job.threads, start.errorsOn ? job.errors : nullptr,
                                                 state_of(start));
        if (pieces_->pulses() != start.pulses) {
            throw std::logic_error("the survey's plan gives " + std::to_string(pieces_->pulses()) +
                                   " pulses here and " + std::to_string(start.pulses) + " on the first process");
        }
        // The formatters of the same files, made here from the same options
        // and model (the flight lines are known now); no file is opened.
        if (!leader() && job.formatters) formatters = job.formatters(SurveyContext{&data, start.pulses});
        if (formatters.size() != start.formatters) {
            throw std::logic_error("this process formats " + std::to_string(formatters.size()) +
                                   " files and the first process " + std::to_string(start.formatters));
        }
        formatting_ = std::make_unique<PieceFormatting>(data, start.pulses, std::move(formatters), job.threads);
        if (start.records > static_cast<std::uint32_t>(ChunkRecords::Whole))
            throw std::logic_error("the first process asks for records in an unknown form");
        records_ = static_cast<ChunkRecords>(start.records);
        pieceSize_ = start.pieceSize;
        if (!leader()) {
            follow();
            formatting_.reset();
            pieces_.reset();
            released_ = true;
        }
    } catch (const std::bad_alloc&) {
        fail("Not enough memory for this run.");
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void MpiTeam::deal(int member) {
    if (nextPiece_ < pieceCount_) {
        const std::uint64_t first = chunkFirst_ + nextPiece_ * pieceSize_;
        const std::uint64_t piece[2] = {first, std::min(pieceSize_, chunkFirst_ + chunkCount_ - first)};
        check(MPI_Send(piece, 2, MPI_UINT64_T, member, kAssign, MPI_COMM_WORLD), "send");
        ++nextPiece_;
    } else {
        waiting_.push_back(member);
    }
}

void MpiTeam::answer(const MPI_Status& status) {
    if (status.MPI_TAG == kResult) {
        int bytes = 0;
        check(MPI_Get_count(&status, MPI_BYTE, &bytes), "count");
        message_.resize(static_cast<std::size_t>(bytes));
        check(MPI_Recv(message_.data(), bytes, MPI_BYTE, status.MPI_SOURCE, kResult, MPI_COMM_WORLD,
                       MPI_STATUS_IGNORE),
              "receive");
        PieceHead head;
        std::memcpy(&head, message_.data(), sizeof head);
        if (head.blocks != formatting_->size()) throw std::logic_error("a piece came back with other files' bytes");
        const std::uint64_t at = head.index - chunkFirst_;
        const std::uint64_t k = at / pieceSize_;
        ChunkPieces::Piece& piece = out_->pieces[k];
        std::vector<BlockHead> blocks(head.blocks);
        const char* body = message_.data() + sizeof head;
        if (!blocks.empty()) std::memcpy(static_cast<void*>(blocks.data()), body, blocks.size() * sizeof(BlockHead));
        body += blocks.size() * sizeof(BlockHead);
        piece.formatted.resize(blocks.size());
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            FormattedPiece& formatted = piece.formatted[b];
            formatted.summary.data.assign(body, body + blocks[b].summary);
            body += blocks[b].summary;
            formatted.summary.refusal.assign(body, body + blocks[b].refusal);
            body += blocks[b].refusal;
            formatted.bytes.clear();
            char* p = formatted.bytes.room(blocks[b].bytes);
            if (blocks[b].bytes != 0) std::memcpy(p, body, blocks[b].bytes);
            formatted.bytes.commit(p + blocks[b].bytes);
            body += blocks[b].bytes;
        }
        out_->returns += head.points;
        if (head.records == static_cast<std::uint64_t>(ChunkRecords::Hits)) {
            // The hits go into the laid records: the face of every pulse,
            // the point of every return.
            const char* points = body + head.lasers * sizeof(std::int32_t);
            for (std::uint64_t i = 0; i < head.lasers; ++i) {
                LaserLine& laser = chunk_[at + i];
                std::memcpy(&laser.hitFaceIndex, body + i * sizeof(std::int32_t), sizeof(std::int32_t));
                if (laser.hitFaceIndex == -1) continue;
                std::memcpy(static_cast<void*>(&laser.hitPoint), points, sizeof(Vec3));
                points += sizeof(Vec3);
            }
        } else if (head.records == static_cast<std::uint64_t>(ChunkRecords::Whole)) {
            std::memcpy(static_cast<void*>(chunk_ + at), body, head.lasers * sizeof(LaserLine));
            body += head.lasers * sizeof(LaserLine);
            std::vector<LidarPoint>& found = returns_[k];
            found.resize(head.points);
            // An empty vector's data() may be null, which memcpy must not get.
            if (head.points != 0) std::memcpy(static_cast<void*>(found.data()), body, head.points * sizeof(LidarPoint));
        }
        ++piecesDone_;
        pulsesDone_ += head.lasers;
        if (progress_ && *progress_) (*progress_)(static_cast<std::size_t>(pulsesDone_));
    } else {
        check(MPI_Recv(nullptr, 0, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE),
              "receive");
    }
    deal(status.MPI_SOURCE);
}

void MpiTeam::answerWaiting() {
    for (;;) {
        int flag = 0;
        MPI_Status status;
        check(MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status), "probe");
        if (!flag) return;
        answer(status);
    }
}

void MpiTeam::castChunk(std::uint64_t first, LaserLine* lasers, std::size_t count, std::vector<LidarPoint>& points,
                        ChunkPieces& out, const std::function<void(std::size_t)>& progress) {
    try {
        progress_ = &progress;
        pulsesDone_ = 0;
        chunk_ = lasers;
        chunkFirst_ = first;
        chunkCount_ = count;
        pieceCount_ = (count + pieceSize_ - 1) / pieceSize_;
        nextPiece_ = piecesDone_ = 0;
        returns_.assign(pieceCount_, std::vector<LidarPoint>());
        out_ = &out;
        out.records = records_;
        out.returns = 0;
        out.pieces.resize(pieceCount_);
        for (std::uint64_t k = 0; k < pieceCount_; ++k) {
            out.pieces[k].first = first + k * pieceSize_;
            out.pieces[k].count = static_cast<std::size_t>(std::min<std::uint64_t>(pieceSize_, count - k * pieceSize_));
        }
        // Members left waiting at the end of the last chunk get pieces first.
        std::deque<int> asking;
        asking.swap(waiting_);
        for (int member : asking) deal(member);
        while (piecesDone_ < pieceCount_) {
            answerWaiting();
            if (nextPiece_ < pieceCount_) {
                const std::uint64_t k = nextPiece_++;
                const std::uint64_t at = k * pieceSize_;
                const std::size_t n = out.pieces[k].count;
                // The leader's records are laid already.
                pieces_->run(first + at, n, lasers + at, returns_[k], [this] { answerWaiting(); }, true);
                formatting_->format(first + at, n, lasers + at, returns_[k], out.pieces[k].formatted);
                out.returns += returns_[k].size();
                ++piecesDone_;
                pulsesDone_ += n;
                if (progress) progress(static_cast<std::size_t>(pulsesDone_));
            } else if (piecesDone_ < pieceCount_) {
                answer(probe(MPI_ANY_SOURCE));
            }
        }
        if (records_ == ChunkRecords::Whole) {
            std::size_t total = points.size();
            for (const auto& r : returns_) total += r.size();
            points.reserve(total);
            for (auto& r : returns_) points.insert(points.end(), r.begin(), r.end());
        }
        returns_.clear();
        progress_ = nullptr;
        out_ = nullptr;
    } catch (const std::bad_alloc&) {
        fail("Not enough memory for this run.");
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void MpiTeam::endCast() {
    try {
        const int allStops = kAhead * (size_ - 1);
        auto stop = [this](int member) {
            check(MPI_Send(nullptr, 0, MPI_BYTE, member, kStop, MPI_COMM_WORLD), "send");
            ++stops_;
        };
        for (int member : waiting_) stop(member);
        waiting_.clear();
        while (stops_ < allStops) {
            const MPI_Status status = probe(MPI_ANY_SOURCE);
            if (status.MPI_TAG == kResult) throw std::logic_error("a piece came back after the last chunk");
            check(MPI_Recv(nullptr, 0, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD,
                           MPI_STATUS_IGNORE),
                  "receive");
            stop(status.MPI_SOURCE);
        }
        restore_normal_deviate_state(pieces_->endState());
        formatting_.reset();
        pieces_.reset();
        released_ = true;
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void MpiTeam::follow() {
    for (int k = 0; k < kAhead; ++k) check(MPI_Send(nullptr, 0, MPI_BYTE, 0, kReady, MPI_COMM_WORLD), "send");
    int waiting = kAhead;  // messages sent and not yet answered
    std::deque<std::array<std::uint64_t, 2>> dealt;
    std::vector<LaserLine> lasers;
    std::vector<LidarPoint> returns;
    std::vector<FormattedPiece> formatted;
    std::vector<BlockHead> blocks;
    // Two messages: one travels while the next piece is cast.
    std::vector<char> messages[2];
    MPI_Request sending[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
    int slot = 0;

    auto take = [&](bool wait) {
        int flag = 1;
        MPI_Status status;
        if (wait) {
            status = probe(0);
        } else {
            check(MPI_Iprobe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status), "probe");
        }
        if (!flag) return false;
        if (status.MPI_TAG == kAssign) {
            std::array<std::uint64_t, 2> piece{};
            check(MPI_Recv(piece.data(), 2, MPI_UINT64_T, 0, kAssign, MPI_COMM_WORLD, MPI_STATUS_IGNORE), "receive");
            dealt.push_back(piece);
        } else {
            check(MPI_Recv(nullptr, 0, MPI_BYTE, 0, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE), "receive");
        }
        --waiting;
        return true;
    };

    for (;;) {
        while (waiting > 0 && take(false)) {
        }
        if (dealt.empty()) {
            if (waiting == 0) break;
            take(true);
            continue;
        }
        const std::uint64_t first = dealt.front()[0];
        const std::size_t n = static_cast<std::size_t>(dealt.front()[1]);
        dealt.pop_front();
        lasers.resize(n);
        returns.clear();
        pieces_->run(first, n, lasers.data(), returns);
        formatting_->format(first, n, lasers.data(), returns, formatted);

        const PieceHead head{first, n, returns.size(), formatted.size(), static_cast<std::uint64_t>(records_)};
        std::size_t size = sizeof head + formatted.size() * sizeof(BlockHead);
        blocks.resize(formatted.size());
        for (std::size_t b = 0; b < formatted.size(); ++b) {
            blocks[b] = BlockHead{formatted[b].summary.data.size(), formatted[b].summary.refusal.size(),
                                  formatted[b].bytes.size()};
            size += blocks[b].summary + blocks[b].refusal + blocks[b].bytes;
        }
        std::size_t hits = 0;
        if (records_ == ChunkRecords::Hits) {
            for (const LaserLine& laser : lasers) hits += laser.hitFaceIndex != -1;
            size += n * sizeof(std::int32_t) + hits * sizeof(Vec3);
        } else if (records_ == ChunkRecords::Whole) {
            size += n * sizeof(LaserLine) + returns.size() * sizeof(LidarPoint);
        }
        if (size > std::size_t(std::numeric_limits<int>::max())) throw std::length_error("a piece too large to send");

        check(MPI_Wait(&sending[slot], MPI_STATUS_IGNORE), "send");
        std::vector<char>& message = messages[slot];
        message.resize(size);
        char* out = message.data();
        auto put = [&out](const void* data, std::size_t bytes) {
            if (bytes != 0) std::memcpy(out, data, bytes);
            out += bytes;
        };
        put(&head, sizeof head);
        put(blocks.data(), blocks.size() * sizeof(BlockHead));
        for (const FormattedPiece& piece : formatted) {
            put(piece.summary.data.data(), piece.summary.data.size());
            put(piece.summary.refusal.data(), piece.summary.refusal.size());
            put(piece.bytes.data(), piece.bytes.size());
        }
        if (records_ == ChunkRecords::Hits) {
            for (const LaserLine& laser : lasers) put(&laser.hitFaceIndex, sizeof(std::int32_t));
            for (const LaserLine& laser : lasers)
                if (laser.hitFaceIndex != -1) put(&laser.hitPoint, sizeof(Vec3));
        } else if (records_ == ChunkRecords::Whole) {
            put(lasers.data(), n * sizeof(LaserLine));
            put(returns.data(), returns.size() * sizeof(LidarPoint));
        }
        check(MPI_Isend(message.data(), static_cast<int>(message.size()), MPI_BYTE, 0, kResult, MPI_COMM_WORLD,
                        &sending[slot]),
              "send");
        slot = 1 - slot;
        ++waiting;
    }
    check(MPI_Waitall(2, sending, MPI_STATUSES_IGNORE), "send");
}

bool started_by_mpi_launcher() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"}) {
        if (std::getenv(name)) return true;
    }
    return false;
}

int run_batch_with_mpi(int argc, char** argv) {
    int provided = 0;
    if (MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        std::cerr << "Error: MPI could not be started.\n";
        return 1;
    }
    int rank = 0, size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = 0;
    if (size == 1) {
        // srun without an MPI plugin starts every task as a job of its own:
        // they would all write the same files.
        const char* tasks = std::getenv("SLURM_NTASKS");
        if (tasks && std::atoi(tasks) > 1) {
            std::cerr << "Error: this process does not see the other " << (std::atoi(tasks) - 1)
                      << " tasks of the Slurm job; start it with srun --mpi=pmix.\n";
            MPI_Finalize();
            return 1;
        }
        status = run_batch(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
    } else {
        MpiTeam team(rank, size);
        if (team.leader()) {
            status = run_batch(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &team);
            std::cout.flush();
            // The others wait for the leader in a call it will not make.
            if (!team.othersReleased()) team.fail("the run stopped before the others were done");
        } else {
            // The leader speaks for the run; the others keep their messages
            // for the case that they stop where the leader goes on.
            std::ostream nowhere(nullptr);
            std::ostringstream messages;
            status = run_batch(args, nowhere, messages, false, &team);
            if (!team.othersReleased()) {
                std::string text = messages.str();
                if (text.rfind("Error: ", 0) == 0) text.erase(0, 7);
                while (!text.empty() && text.back() == '\n') text.pop_back();
                team.fail(text.empty() ? std::string("the run stopped before the survey was cast") : text);
            }
        }
    }
    std::cout.flush();
    // The others wait here while the leader writes: gently, then finalize.
    if (size > 1) {
        MPI_Request request;
        if (MPI_Ibarrier(MPI_COMM_WORLD, &request) == MPI_SUCCESS) {
            try {
                wait_for(request, "barrier");
            } catch (const std::exception&) {
            }
        }
    }
    MPI_Finalize();
    return status;
}
