"""Plain-Python references shared by the bit-exact tests: the rotation convention, the RBF
kernels and the dense solver, written out in their fixed order of operations."""

import math

EPS = 2.220446049250313e-16


def rbf_kernels(lib):
    """Each RBF kernel as a function of the squared distance s and epsilon e, written with the
    exp, sqrt and log of lib (math for floats, numpy for arrays)."""
    return {
        "gaussian": lambda s, e: lib.exp((s * -0.5) / (e * e)),
        "multiquadric": lambda s, e: lib.sqrt(e * e + s),
        "inverse_multiquadratic": lambda s, e: 1.0 / lib.sqrt(e * e + s),
        "linear": lambda s, e: s,
        "cubic": lambda s, e: s * s,
        "thin_plate_spline": lambda s, e: lib.log(s) * (s * s),
    }


def matmul3(a, b):
    return [[(a[r][0] * b[0][c] + a[r][1] * b[1][c]) + a[r][2] * b[2][c] for c in range(3)]
            for r in range(3)]


def rotation_matrix(theta):
    ax, ay, az = ((a * math.pi) / 180 for a in theta)
    m = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
    if az != 0:
        s, c = math.sin(az), math.cos(az)
        m = [[c, -s, 0.0], [s, c, 0.0], [0.0, 0.0, 1.0]]
    if ay != 0:
        s, c = math.sin(ay), math.cos(ay)
        m = matmul3([[c, 0.0, s], [0.0, 1.0, 0.0], [-s, 0.0, c]], m)
    if ax != 0:
        s, c = math.sin(ax), math.cos(ax)
        m = matmul3([[1.0, 0.0, 0.0], [0.0, c, -s], [0.0, s, c]], m)
    return m


def solve_linear_system(matrix, rhs):
    n = len(matrix)
    row_sums, col_sums = [], [0.0] * len(matrix[0])
    for row in matrix:
        total = 0.0
        for j, v in enumerate(row):
            total += abs(v)
            col_sums[j] += abs(v)
        row_sums.append(total)
    row_max = max([0.0] + [s for s in row_sums if s == s])
    col_max = max([0.0] + [s for s in col_sums if s == s])
    lu = [list(row) for row in matrix]
    b = [list(v) for v in rhs]
    if not row_max * col_max <= 1e5:
        for i in range(n):
            s = row_sums[i] if row_sums[i] > EPS else EPS
            lu[i] = [v / s for v in lu[i]]
            b[i] = [v / s for v in b[i]]
    perm = list(range(n))
    for k in range(n - 1):
        best = k
        for j in range(k + 1, n):
            if abs(lu[j][k]) > abs(lu[best][k]):
                best = j
        assert lu[best][k] != 0.0
        lu[k], lu[best] = lu[best], lu[k]
        perm[k], perm[best] = perm[best], perm[k]
        pivot = lu[k][k]
        for i in range(k + 1, n):
            f = lu[i][k] / pivot
            lu[i][k] = f
            for c in range(k + 1, n):
                lu[i][c] -= f * lu[k][c]
    width = len(b[0])
    y = []
    for i in range(n):
        acc = [0.0] * width
        for j in range(i):
            acc = [acc[a] + lu[i][j] * y[j][a] for a in range(width)]
        y.append([b[perm[i]][a] - acc[a] for a in range(width)])
    x = [[0.0] * width for _ in range(n)]
    for i in reversed(range(n)):
        acc = [0.0] * width
        for j in range(i + 1, n):
            acc = [acc[a] + lu[i][j] * x[j][a] for a in range(width)]
        x[i] = [(y[i][a] - acc[a]) / lu[i][i] for a in range(width)]
        assert not any(v != v for v in x[i])
    return x
