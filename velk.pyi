"""Type stubs for velk: meshes, shape generators, node selection and transforms, mesh files,
and free-form and radial-basis-function deformation."""

import os
from collections.abc import Sequence
from typing import Literal, SupportsFloat, SupportsIndex

import numpy
import numpy.typing
from typing_extensions import disjoint_base

__all__ = [
    "Mesh",
    "select_nodes_closest_to_point",
    "select_nodes_on_line",
    "select_nodes_in_sphere",
    "select_nodes_in_box",
    "select_nodes_closest_to_plane",
    "select_nodes_in_plane_direction",
    "translate_nodes",
    "rotate_nodes",
    "scale_nodes",
    "transform_nodes",
    "transform_selected_nodes",
    "build_transformation_matrix",
    "generate_box",
    "generate_capsule",
    "generate_cone",
    "generate_cylinder",
    "generate_icosphere",
    "generate_naca_wing",
    "generate_torus",
    "generate_uvsphere",
    "generate_block_cluster",
    "generate_sphere_cluster",
    "write_stl",
    "write_vtp",
    "write_obj",
    "read_stl",
    "read_obj",
    "RbfDeformer",
    "DesignBlock",
    "FreeFormDeformer",
]

__version__: str

_Float = SupportsFloat | SupportsIndex
_Point = Sequence[_Float] | numpy.typing.NDArray[numpy.float64]
# Node lists: sequences of three numbers, or float64 arrays of shape (N, 3).
_Nodes = Sequence[Sequence[_Float]] | numpy.typing.NDArray[numpy.float64]
# Cell and index lists: sequences of non-negative integers, or int64 / uint64 arrays.
_IntArray = numpy.typing.NDArray[numpy.int64] | numpy.typing.NDArray[numpy.uint64]
_Cells = Sequence[Sequence[SupportsIndex]] | _IntArray
_Ids = Sequence[SupportsIndex] | _IntArray
_Path = str | os.PathLike[str]
_Kernel = Literal["cubic", "gaussian", "inverse_multiquadratic", "linear", "multiquadric", "thin_plate_spline"]
_Matrix = Sequence[Sequence[_Float]]
_NodeList = list[list[float]]
_CellList = list[list[int]]

@disjoint_base
class Mesh:
    """A triangle mesh: a node list and a cell list (three node indices per cell), held as values.

    Args:
        nodes: points, each three numbers (or a float64 array of shape (N, 3)).
        cells: triangles, each three non-negative node indices (or an int64/uint64 array).

    Raises:
        TypeError, ValueError, OverflowError: an argument that is not such a list (a point of
            another length, a negative index). Indices are not checked here: a cell naming a
            missing node fails later, in the method that follows it (PanicException).

    Example:
        >>> mesh = velk.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
        >>> mesh.cell_normals()
        [[0.0, 0.0, 1.0]]
    """
    def __new__(cls, nodes: _Nodes, cells: _Cells) -> Mesh: ...
    @property
    def nodes(self) -> _NodeList:
        """The nodes, as a new list of [x, y, z] floats; assigning replaces them (converted as in the constructor)."""
    @nodes.setter
    def nodes(self, value: _Nodes) -> None: ...
    @property
    def cells(self) -> _CellList:
        """The cells, as a new list of [a, b, c] node indices; assigning replaces them."""
    @cells.setter
    def cells(self, value: _Cells) -> None: ...
    @classmethod
    def from_stl(cls, filename: _Path) -> Mesh:
        """Reads an STL file (binary or ASCII, told apart from its first bytes) into a new Mesh, equal
        corners merged into shared nodes (in order of first appearance).

        Raises:
            OSError: a missing, unreadable or malformed file (the errno-specific subclass where the
                system gave one; text "🔴 IO error: ...").

        Example:
            >>> mesh = velk.Mesh.from_stl("part.stl")
        """
    @classmethod
    def from_obj(cls, filename: _Path) -> Mesh:
        """Reads the vertices and faces of an OBJ file into a new Mesh (polygons split as a fan).

        Raises:
            OSError: a missing, unreadable or malformed file.

        Example:
            >>> mesh = velk.Mesh.from_obj("part.obj")
        """
    def triangles(self) -> list[list[list[float]]]:
        """The three corner points of every cell, in cell order: [[a, b, c], ...] with each corner
        [x, y, z].

        Raises:
            PanicException: a cell naming a node that does not exist.

        Example:
            >>> velk.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]]).triangles()
            [[[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]]
        """
    def cell_normals(self) -> _NodeList:
        """The unit normal of every cell, from its winding (right-hand rule), in cell order.

        Raises:
            PanicException: a cell naming a node that does not exist.

        Example:
            >>> velk.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]]).cell_normals()
            [[0.0, 0.0, 1.0]]
        """
    def slice_from_plane(self, origin: _Point, normal: _Point) -> _NodeList:
        """The points where the plane through origin with the given normal cuts the cells' edges: two
        points per cut cell, one segment each.

        Raises:
            PanicException: a plane that cuts no cell.

        Example:
            >>> mesh.slice_from_plane([0.5, 0, 0], [1, 0, 0])
            [[0.5, 0.0, 0.0], [0.5, 0.5, 0.0]]
        """
    def clip_from_plane(self, origin: _Point, normal: _Point) -> Mesh:
        """A new Mesh of the nodes on the side the normal points to (plane included) and the cells
        whose corners are all among them.

        Example:
            >>> half = mesh.clip_from_plane([0.5, 0, 0], [1, 0, 0])
        """
    def write_stl(self, filename: _Path | None = None, format: str | None = None) -> None:
        """Writes the mesh as STL: binary unless format is "ascii"; the file name defaults to
        "mesh.stl". A failed write leaves any old file in place.


        Raises:
            PanicException: the file cannot be written (text "🔴 IO error: ..." after the unwrap
                prefix), or a cell names a node that does not exist (checked first). A failed write
                leaves any old file in place.

        Example:
            >>> mesh.write_stl("part.stl", "ascii")
        """
    def write_obj(self, filename: _Path | None = None) -> None:
        """Writes the mesh as OBJ (vertices, then faces); the file name defaults to "mesh.obj".


        Raises:
            PanicException: the file cannot be written (text "🔴 IO error: ..." after the unwrap
                prefix), or a cell names a node that does not exist (checked first). A failed write
                leaves any old file in place.

        Example:
            >>> mesh.write_obj("part.obj")
        """
    def write_vtp(self, filename: _Path | None = None) -> None:
        """Writes the nodes as VTK XML poly-data points; the file name defaults to "points.vtp".


        Raises:
            PanicException: the file cannot be written (text "🔴 IO error: ..." after the unwrap
                prefix), or a cell names a node that does not exist (checked first). A failed write
                leaves any old file in place.

        Example:
            >>> mesh.write_vtp("points.vtp")
        """

def select_nodes_closest_to_point(nodes: _Nodes, point: _Point) -> list[int]:
    """Indices of the nodes nearest to point (ties within machine epsilon of the squared distance
    all included), in node order.

    Returns:
        Node indices.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.select_nodes_closest_to_point([[0, 0, 0], [2, 0, 0]], [0.5, 0, 0])
        [0]
    """
def select_nodes_on_line(nodes: _Nodes, point_a: _Point, point_b: _Point) -> list[int]:
    """Indices of the nodes on the segment from point_a to point_b (ends included, to machine
    epsilon), in node order.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.select_nodes_on_line([[0, 0, 0], [1, 0, 0], [1, 1, 0]], [0, 0, 0], [2, 0, 0])
        [0, 1]
    """
def select_nodes_in_sphere(nodes: _Nodes, radius: _Float, centre: _Point) -> list[int]:
    """Indices of the nodes in the closed ball of the given radius about centre, in node order.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.select_nodes_in_sphere([[0, 0, 0], [2, 0, 0]], 1.0, [0, 0, 0])
        [0]
    """
def select_nodes_in_box(nodes: _Nodes, length: _Point, centre: _Point, theta: _Point) -> list[int]:
    """Indices of the nodes inside the box of edge lengths `length` about centre, turned by theta
    (degrees about x, y, z; R = Rx·Ry·Rz), boundary included, in node order.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.select_nodes_in_box([[0, 0, 0], [1, 1, 0]], [1, 1, 1], [1, 1, 0], [0, 0, 45])
        [1]
    """
def select_nodes_closest_to_plane(nodes: _Nodes, origin: _Point, normal: _Point) -> list[int]:
    """Indices of the nodes nearest to the plane through origin with the given normal (distance
    measured along the normal as given, ties within machine epsilon included), in node order.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.select_nodes_closest_to_plane([[0, 0, 0], [0, 0, 2]], [0, 0, 0.5], [0, 0, 1])
        [0]
    """
def select_nodes_in_plane_direction(nodes: _Nodes, origin: _Point, normal: _Point) -> list[int]:
    """Indices of the nodes on the side of the plane (through origin) that the normal points to,
    plane included, in node order.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.select_nodes_in_plane_direction([[0, 0, -1], [0, 0, 1]], [0, 0, 0], [0, 0, 1])
        [1]
    """
def translate_nodes(nodes: _Nodes, translation: _Point) -> _NodeList:
    """A moved copy of the nodes: each node plus translation.

    Returns:
        The translated nodes, as a new list.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.translate_nodes([[1, 2, 3]], [1, 1, 1])
        [[2.0, 3.0, 4.0]]
    """
def rotate_nodes(nodes: _Nodes, rotation: _Point, origin: _Point) -> _NodeList:
    """A rotated copy of the nodes: each node turned about origin by rotation (degrees about x, y
    and z; R = Rx·Ry·Rz).

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.rotate_nodes([[1, 0, 0]], [0, 0, 90], [0, 0, 0])   # [[0.0, 1.0, 0.0]] to rounding
    """
def scale_nodes(nodes: _Nodes, scaling: _Point, origin: _Point) -> _NodeList:
    """A scaled copy of the nodes: each node's offset from origin multiplied by scaling, axis by axis.

    Raises:
        TypeError, ValueError: an argument that is not a node list or a point of three numbers.

    Example:
        >>> velk.scale_nodes([[2, 2, 2]], [2, 1, 0.5], [1, 1, 1])
        [[3.0, 2.0, 1.5]]
    """
def transform_nodes(nodes: _Nodes, transformation_matrix: _Matrix, origin: _Point) -> _NodeList:
    """A transformed copy of the nodes: each node's offset from origin through the 4 x 4 matrix
    (rows 0-2 used, the fourth column a translation), plus origin.

    Raises:
        TypeError, ValueError: a node list, matrix (4 rows of 4) or point of the wrong form.

    Example:
        >>> m = velk.build_transformation_matrix([1, 0, 0], [0, 0, 0], [1, 1, 1])
        >>> velk.transform_nodes([[0, 0, 0]], m, [0, 0, 0])
        [[1.0, 0.0, 0.0]]
    """
def transform_selected_nodes(
    nodes: _Nodes, selected_ids: _Ids, transformation_matrix: _Matrix, origin: _Point
) -> _NodeList:
    """A copy of the nodes in which the selected ones (by index, in list order; an index listed
    twice is transformed twice) go through the matrix as in transform_nodes; the others keep
    their values. Indices beyond the node list are skipped.

    Raises:
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative index).

    Example:
        >>> m = velk.build_transformation_matrix([0, 0, 1], [0, 0, 0], [1, 1, 1])
        >>> velk.transform_selected_nodes([[0, 0, 0], [1, 0, 0]], [1], m, [0, 0, 0])
        [[0.0, 0.0, 0.0], [1.0, 0.0, 1.0]]
    """
def build_transformation_matrix(
    translation: _Point, rotation: _Point, scaling: _Point
) -> list[list[float]]:
    """The 4 x 4 matrix T·R·S: scaling, then rotation (degrees about x, y, z; R = Rx·Ry·Rz), then
    translation, as rows of four floats.

    Raises:
        TypeError, ValueError: a point that is not three numbers.

    Example:
        >>> velk.build_transformation_matrix([1, 2, 3], [0, 0, 0], [1, 1, 1])[0]
        [1.0, 0.0, 0.0, 1.0]
    """
def generate_box(length: _Point, centre: _Point, theta: _Point, resolution: _Ids) -> Mesh:
    """A box surface of edge lengths `length` about centre, turned by theta (degrees), its faces
    divided by resolution (nx, ny, nz); wound outward.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> box = velk.generate_box([2, 1, 1], [0, 0, 0], [0, 0, 30], [4, 2, 2])
    """
def generate_capsule(
    radius: _Float, cylinder_height: _Float, centre: _Point, sectors: SupportsIndex, stacks: SupportsIndex
) -> Mesh:
    """A capsule along y: two hemispheres of the given radius joined by a straight part of
    cylinder_height, `sectors` around and `stacks` per hemisphere; wound outward, pole rings left
    unmerged.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> capsule = velk.generate_capsule(0.5, 1.0, (0, 0, 0), 16, 8)
    """
def generate_cone(radius: _Float, height: _Float, centre: _Point, sectors: SupportsIndex) -> Mesh:
    """A cone along y, apex up, with its base, `sectors` around; wound inward.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> cone = velk.generate_cone(1.0, 2.0, (0, 0, 0), 24)
    """
def generate_cylinder(
    radius: _Float, height: _Float, centre: _Point, sectors: SupportsIndex, stacks: SupportsIndex
) -> Mesh:
    """A closed cylinder along y with its caps, `sectors` around and `stacks` along; wound inward.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> cylinder = velk.generate_cylinder(0.5, 2.0, (0, 0, 0), 24, 4)
    """
def generate_icosphere(radius: _Float, centre: _Point, subdivisions: SupportsIndex) -> Mesh:
    """An icosahedron subdivided `subdivisions` times and projected onto the sphere: 10·4^n + 2
    nodes and 20·4^n cells, wound outward.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> ball = velk.generate_icosphere(1.0, (0, 0, 0), 3)
        >>> len(ball.nodes), len(ball.cells)
        (642, 1280)
    """
def generate_naca_wing(
    maximum_camber: _Float,
    camber_distance: _Float,
    maximum_thickness: _Float,
    n_points: SupportsIndex,
    wing_span: tuple[_Float, _Float],
) -> Mesh:
    """A straight wing of unit chord with a NACA 4-digit section (maximum camber and its position in
    tenths and percent, thickness in percent), sampled at n_points + 1 chord stations and extruded
    along z over wing_span = (start, end); open at both ends.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> wing = velk.generate_naca_wing(2, 4, 12, 50, (0.0, 3.0))   # NACA 2412, span z 0..3
    """
def generate_torus(
    major_radius: _Float,
    minor_radius: _Float,
    centre: _Point,
    major_segments: SupportsIndex,
    minor_segments: SupportsIndex,
) -> Mesh:
    """A torus about the y axis, major_segments around it and minor_segments around its tube; wound
    inward, its two seams left unmerged.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> torus = velk.generate_torus(1.0, 0.25, (0, 0, 0), 32, 16)
    """
def generate_uvsphere(radius: _Float, centre: _Point, sectors: SupportsIndex, stacks: SupportsIndex) -> Mesh:
    """A sphere of `sectors` around and `stacks` from pole to pole, poles on the y axis; wound
    outward.

    Raises:
        PanicException: a refused argument (a size that is not positive, too few divisions), with
            the generator's text.
        MemoryError: a mesh too large for the machine's memory, before any work.
        TypeError, ValueError, OverflowError: an argument of the wrong form (a negative count).

    Example:
        >>> globe = velk.generate_uvsphere(1.0, (0, 0, 0), 32, 16)
    """
def generate_block_cluster(length: _Point, centre: _Point, theta: _Point, resolution: _Ids) -> _NodeList:
    """Every point of the (x+1)·(y+1)·(z+1) lattice spanning the box of edge lengths `length` about
    centre, turned by theta (degrees); z index fastest, then y, then x.

    Raises:
        PanicException: a length that is not positive, or a resolution component of 0.
        MemoryError: a lattice too large for the machine's memory (its Python list counted too).

    Example:
        >>> len(velk.generate_block_cluster([1, 1, 1], [0, 0, 0], [0, 0, 30], [2, 2, 2]))
        27
    """
def generate_sphere_cluster(radius: _Float, centre: _Point, resolution: SupportsIndex) -> _NodeList:
    """The points of the (n+1)³ lattice spanning the cube of edge 2·radius about centre that lie in
    the closed ball, in lattice order.

    Raises:
        PanicException: a radius that is not positive, or a resolution of 0.
        MemoryError: a result too large for the machine's memory.

    Example:
        >>> len(velk.generate_sphere_cluster(1.0, [0, 0, 0], 2))
        7
    """
def write_stl(nodes: _Nodes, cells: _Cells, filename: _Path | None = None, format: str | None = None) -> None:
    """Writes nodes and cells as an STL file: binary unless format is "ascii"; the file name
    defaults to "mesh.stl".

    Raises:
        PanicException: the file cannot be written, or a cell names a node that does not exist
            (checked before the file is touched). A failed write leaves any old file in place.

    Example:
        >>> velk.write_stl([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]], "part.stl")
    """
def write_vtp(nodes: _Nodes, filename: _Path | None = None) -> None:
    """Writes nodes as VTK XML poly-data points (for ParaView); the file name defaults to
    "points.vtp".

    Raises:
        PanicException: the file cannot be written.

    Example:
        >>> velk.write_vtp([[0, 0, 0], [1, 0, 0]], "points.vtp")
    """
def write_obj(nodes: _Nodes, cells: _Cells, filename: _Path | None = None) -> None:
    """Writes nodes and cells as an OBJ file; the file name defaults to "mesh.obj".

    Raises:
        PanicException: the file cannot be written, or a cell names a node that does not exist
            (checked before the file is touched). A failed write leaves any old file in place.

    Example:
        >>> velk.write_obj([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]], "part.obj")
    """
def read_stl(filename: _Path) -> tuple[_NodeList, _CellList]:
    """Reads an STL file (binary or ASCII) into (nodes, cells), equal corners merged.

    Raises:
        PanicException: a missing, unreadable or malformed file (Mesh.from_stl raises OSError).

    Example:
        >>> nodes, cells = velk.read_stl("part.stl")
    """
def read_obj(filename: _Path) -> tuple[_NodeList, _CellList]:
    """Reads the vertices and faces of an OBJ file into (nodes, cells).

    Raises:
        PanicException: a missing, unreadable or malformed file (Mesh.from_obj raises OSError).

    Example:
        >>> nodes, cells = velk.read_obj("part.obj")
    """

@disjoint_base
class RbfDeformer:
    """Smooth deformation by radial basis functions: fitted so that each original control point
    goes to its deformed position (coordinates standardised per axis first).

    Args:
        original_control_points, deformed_control_points: equally long node lists.
        kernel: "gaussian" (the default), "multiquadric", "inverse_multiquadratic", "linear",
            "cubic" or "thin_plate_spline", each a function of the squared distance.
        epsilon: the kernel's shape parameter (default 1.0).

    Raises:
        PanicException: an unknown kernel, lists of different lengths, or a fit that fails (for
            example coincident control points).
        MemoryError: a fit too large for the machine's memory.

    Example:
        >>> original = [[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]]
        >>> rbf = velk.RbfDeformer(original, [[x + 1, y, z] for x, y, z in original])
        >>> moved = rbf.deform([[0.5, 0.5, 0.5]])
    """
    def __new__(
        cls,
        original_control_points: _Nodes,
        deformed_control_points: _Nodes,
        kernel: _Kernel | None = None,
        epsilon: _Float | None = None,
    ) -> RbfDeformer: ...
    def deform(self, points: _Nodes) -> _NodeList:
        """The points moved by the fitted interpolation, as a new node list.

        Raises:
            ValueError: a prediction that meets NaN ("🔴 Deformation error: ...").
        """

@disjoint_base
class DesignBlock:
    """The lattice of control nodes of a free-form deformation: a box of edge lengths `length` about
    centre, turned by theta (degrees), with resolution (x, y, z) divisions.

    Raises:
        PanicException: a length that is not positive, or a resolution component of 0.
        MemoryError: a lattice too large for the machine's memory.

    Example:
        >>> block = velk.DesignBlock([2, 2, 2], [0, 0, 0], [0, 0, 0], [4, 4, 4])
        >>> len(block.nodes)
        125
    """
    def __new__(cls, length: _Point, centre: _Point, theta: _Point, resolution: _Ids) -> DesignBlock: ...
    @property
    def nodes(self) -> _NodeList:
        """The lattice nodes, z index fastest, then y, then x."""
    @property
    def length(self) -> list[float]:
        """The edge lengths the block was made with."""
    @property
    def centre(self) -> list[float]:
        """The centre the block was made with."""
    @property
    def theta(self) -> list[float]:
        """The rotation (degrees) the block was made with."""
    @property
    def resolution(self) -> list[int]:
        """The divisions (x, y, z) the block was made with."""
    def select_free_design_nodes(
        self, target_mesh: Mesh, fixed_layers: SupportsIndex | None = None
    ) -> list[int]:
        """Indices of the lattice nodes left free to move: every face of the block whose plane cuts
        target_mesh holds fixed_layers layers of the lattice (2 when omitted; 0 holds none).

        Raises:
            ValueError: a resolution component below fixed_layers ("🔴 Deformation error: ...").

        Example:
            >>> free = block.select_free_design_nodes(velk.generate_icosphere(0.5, (0, 0, 0), 2))
        """
    def transform_subset(self, node_ids: _Ids, transform_matrix: _Matrix, pivot: _Point) -> _NodeList:
        """A copy of the lattice nodes in which the given ones go through the matrix about pivot (as
        transform_selected_nodes).

        Example:
            >>> lift = velk.build_transformation_matrix([0, 0, 0.2], [0, 0, 0], [1, 1, 1])
            >>> moved = block.transform_subset([0, 1], lift, [0, 0, 0])
        """

@disjoint_base
class FreeFormDeformer:
    """A free-form deformation over a design block: points inside the block follow a Bernstein
    blend of the lattice nodes' moves; points outside stay put.

    Example:
        >>> deformer = velk.FreeFormDeformer(block)
    """
    def __new__(cls, original_design_block: DesignBlock) -> FreeFormDeformer: ...
    def deform(self, points: _Nodes, deformed_design_nodes: _Nodes) -> _NodeList:
        """The points after the lattice moves from the block's nodes to deformed_design_nodes, as a new
        node list.

        Raises:
            ValueError: deformed_design_nodes not as long as the block's nodes
                ("🔴 Deformation error: ...").

        Example:
            >>> morphed = deformer.deform(points, block.transform_subset(free, lift, [0, 0, 0]))
        """
