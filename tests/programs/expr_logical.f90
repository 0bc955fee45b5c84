! Logical operators of every kind, and relational operators on mixed kinds.
program expr_logical
  implicit none
  logical :: p, q
  logical(1) :: p1
  logical(8) :: p8
  p = .true.
  q = .false.
  if (p .and. q) stop 1
  if (.not. (p .or. q)) stop 2
  if (p .eqv. q) stop 3
  if (.not. (p .neqv. q)) stop 4
  p1 = 1 < 2
  p8 = p1 .and. p
  if (.not. p8) stop 5
  if (.not. (1 .lt. 2 .and. 2.0 .ge. 2 .and. 3 /= 4)) stop 6
  if (.not. (1.5 > 1)) stop 7
  if (.not. (.not. q .and. p .or. q)) stop 8
  stop 0
end program expr_logical
