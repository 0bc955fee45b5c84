! WRITE (u, '(5ES24.16)') of REAL(8) values, five a record.
program fwo_es
  implicit none
  character(len=256) :: path, arg
  integer :: n, i, j, u
  real(8) :: x(5)
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  open (newunit=u, file=trim(path), status='replace')
  do i = 1, n / 5
    do j = 1, 5
      x(j) = real(i, 8) * 1.000001d0 + real(j, 8) / 3.0d0
    end do
    write (u, '(5ES24.16)') x
  end do
  close (u)
end program
