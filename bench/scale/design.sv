// design.sv: the scale benchmark's design: N x N blocks, each three lanes (an LFSR, a pipelined
// adder and a FIFO), a pacing LFSR, a small state machine with a named event and a real,
// chained in a ring so that each block depends on its neighbour. N is a parameter (-GN=16).

module lfsr #(parameter int W = 64, parameter logic [W-1:0] TAPS = 64'hD800000000000000,
              parameter logic [W-1:0] SEED = 1)
    (input logic clk, input logic rst, input logic [W-1:0] mix, output logic [W-1:0] q);
    always_ff @(posedge clk)
        if (rst) q <= SEED;
        else q <= ((q >> 1) ^ (q[0] ? TAPS : '0)) ^ (mix & {{(W-1){1'b0}}, 1'b1});
endmodule

// Three stages: low halves, then high halves with the carry, then the registered sum.
module pipe_add (input logic clk, input logic rst, input logic valid_in,
                 input logic [31:0] a, input logic [31:0] b,
                 output logic valid_out, output logic [32:0] sum);
    logic [16:0] s1_lo;
    logic [15:0] s1_a_hi, s1_b_hi;
    logic [32:0] s2_sum;
    logic [2:0] valid;
    always_ff @(posedge clk) begin
        if (rst) valid <= '0;
        else valid <= {valid[1:0], valid_in};
        s1_lo <= {1'b0, a[15:0]} + {1'b0, b[15:0]};
        s1_a_hi <= a[31:16];
        s1_b_hi <= b[31:16];
        s2_sum <= {{1'b0, s1_a_hi} + {1'b0, s1_b_hi} + {16'b0, s1_lo[16]}, s1_lo[15:0]};
        sum <= s2_sum;
    end
    assign valid_out = valid[2];
endmodule

module fifo #(parameter int W = 16, parameter int D = 8)
    (input logic clk, input logic rst, input logic wr_en, input logic rd_en,
     input logic [W-1:0] din, output logic [W-1:0] dout,
     output logic full, output logic empty, output logic [$clog2(D):0] count);
    logic [W-1:0] mem [D];
    logic [$clog2(D)-1:0] wr_ptr, rd_ptr;
    logic do_wr, do_rd;
    assign full = count == D[$clog2(D):0];
    assign empty = count == 0;
    assign do_wr = wr_en && !full;
    assign do_rd = rd_en && !empty;
    always_ff @(posedge clk) begin
        if (rst) begin
            wr_ptr <= '0;
            rd_ptr <= '0;
            count <= '0;
            dout <= '0;
        end else begin
            if (do_wr) begin
                mem[wr_ptr] <= din;
                wr_ptr <= wr_ptr + 1'b1;
            end
            if (do_rd) begin
                dout <= mem[rd_ptr];
                rd_ptr <= rd_ptr + 1'b1;
            end
            count <= count + {{$clog2(D){1'b0}}, do_wr} - {{$clog2(D){1'b0}}, do_rd};
        end
    end
endmodule

module fsm (input logic clk, input logic rst, input logic start, input logic [7:0] length,
            output logic busy, output logic done, output logic [2:0] state_q,
            output logic [7:0] counter);
    typedef enum logic [2:0] {IDLE, LOAD, RUN, DRAIN, DONE} state_t;
    state_t state, next;
    event finished;
    always_comb begin
        next = state;
        case (state)
            IDLE: if (start) next = LOAD;
            LOAD: next = RUN;
            RUN: if (counter == 0) next = DRAIN;
            DRAIN: next = DONE;
            default: next = IDLE;
        endcase
    end
    always_ff @(posedge clk) begin
        if (rst) begin
            state <= IDLE;
            counter <= '0;
        end else begin
            state <= next;
            if (state == LOAD) counter <= length;
            else if (state == RUN) counter <= counter - 1'b1;
            if (next == DONE) -> finished;
        end
    end
    assign busy = state != IDLE;
    assign done = state == DONE;
    assign state_q = state;
endmodule

// An LFSR feeding a pipelined adder whose sums queue in a FIFO.
module lane #(parameter logic [63:0] SEED = 1)
    (input logic clk, input logic rst, input logic [31:0] din, input logic pop,
     output logic [63:0] rnd, output logic [15:0] out, output logic [32:0] sum,
     output logic full);
    logic valid, empty;
    logic [2:0] count;
    lfsr #(.W(64), .SEED(SEED)) gen (clk, rst, {32'b0, din}, rnd);
    pipe_add adder (clk, rst, rnd[40], rnd[31:0] ^ din, rnd[63:32], valid, sum);
    fifo #(.W(16), .D(4)) queue (clk, rst, valid, pop, sum[15:0], out, full, empty, count);
endmodule

module block #(parameter int ID = 0)
    (input logic clk, input logic rst, input logic [31:0] din, output logic [31:0] dout);
    logic [63:0] rnd_a, rnd_b, rnd_c;
    logic [15:0] rnd16, out_a, out_b, out_c;
    logic [32:0] sum_a, sum_b, sum_c;
    logic full_a, full_b, full_c, busy, done;
    logic [2:0] state;
    logic [7:0] counter;
    real level;
    lfsr #(.W(16), .TAPS(16'hB400), .SEED(16'hACE1 ^ ID[15:0])) pace (clk, rst, 16'b0, rnd16);
    lane #(.SEED(64'h9E3779B97F4A7C15 ^ ID)) a (clk, rst, din, rnd16[1] & rnd16[2], rnd_a,
                                                 out_a, sum_a, full_a);
    lane #(.SEED(64'hC2B2AE3D27D4EB4F ^ ID)) b (clk, rst, din ^ sum_a[31:0], rnd16[3] & busy,
                                                 rnd_b, out_b, sum_b, full_b);
    lane #(.SEED(64'h165667B19E3779F9 ^ ID)) c (clk, rst, din ^ sum_b[31:0], rnd16[4] & rnd16[5],
                                                 rnd_c, out_c, sum_c, full_c);
    fsm control (clk, rst, full_a | full_b | full_c, rnd_a[7:0], busy, done, state, counter);
    always_ff @(posedge clk)
        if (rst) level <= 0.0;
        else level <= level * 0.875 + $itor(out_a) / 65536.0;
    assign dout = sum_c[31:0] ^ {out_a, out_b ^ out_c} ^ {16'b0, rnd16} ^ {24'b0, counter};
endmodule

module top #(parameter int N = 4) (input logic clk, input logic rst, output logic [31:0] checksum);
    logic [31:0] data [N * N];
    for (genvar r = 0; r < N; ++r) begin : row
        for (genvar c = 0; c < N; ++c) begin : col
            block #(.ID(r * N + c)) blk (clk, rst, data[(r * N + c + N * N - 1) % (N * N)],
                                         data[r * N + c]);
        end
    end
    always_comb begin
        checksum = '0;
        for (int i = 0; i < N * N; ++i) checksum = checksum ^ data[i];
    end
endmodule
